// Builds small packed DIBs for renderer fixtures: a header, a palette, rows.
#pragma once

#include <cstdint>
#include <vector>

struct DibSpec {
    int32_t width = 1;
    int32_t height = 1;  // positive: rows bottom-up
    uint16_t bitCount = 8;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    uint32_t headerSize = 40;
};

inline void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// `palette` holds 0xRRGGBB entries; `rows` the stored bytes of each row in
// file order (already padded by the caller when it wants them padded).
inline std::vector<uint8_t> MakeDib(const DibSpec& s, const std::vector<uint32_t>& palette,
                                    const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint8_t> dib;
    PutLe(dib, s.headerSize, 4);
    PutLe(dib, static_cast<uint32_t>(s.width), 4);
    PutLe(dib, static_cast<uint32_t>(s.height), 4);
    PutLe(dib, 1, 2);
    PutLe(dib, s.bitCount, 2);
    PutLe(dib, s.compression, 4);
    PutLe(dib, 0, 4);
    PutLe(dib, 0, 4);
    PutLe(dib, 0, 4);
    PutLe(dib, s.coloursUsed, 4);
    PutLe(dib, 0, 4);
    while (dib.size() < s.headerSize) dib.push_back(0);
    for (uint32_t c : palette) {
        PutLe(dib, c & 0xFF, 1);
        PutLe(dib, (c >> 8) & 0xFF, 1);
        PutLe(dib, (c >> 16) & 0xFF, 1);
        PutLe(dib, 0, 1);
    }
    for (const auto& row : rows) dib.insert(dib.end(), row.begin(), row.end());
    return dib;
}

// An 8-bit image of one colour per pixel index, rows given top-down and
// stored bottom-up with padding.
inline std::vector<uint8_t> MakePaletteImage(const std::vector<uint32_t>& palette,
                                             const std::vector<std::vector<uint8_t>>& topDown) {
    DibSpec s;
    s.width = static_cast<int32_t>(topDown.front().size());
    s.height = static_cast<int32_t>(topDown.size());
    s.coloursUsed = static_cast<uint32_t>(palette.size());
    std::vector<std::vector<uint8_t>> rows(topDown.rbegin(), topDown.rend());
    for (auto& row : rows) row.resize((row.size() + 3) / 4 * 4, 0);
    return MakeDib(s, palette, rows);
}

// A 32-bit image from 0xAARRGGBB pixels (straight alpha), rows top-down.
inline std::vector<uint8_t> MakeArgbImage(const std::vector<std::vector<uint32_t>>& topDown) {
    DibSpec s;
    s.width = static_cast<int32_t>(topDown.front().size());
    s.height = static_cast<int32_t>(topDown.size());
    s.bitCount = 32;
    std::vector<std::vector<uint8_t>> rows;
    for (auto it = topDown.rbegin(); it != topDown.rend(); ++it) {
        std::vector<uint8_t> row;
        for (uint32_t p : *it) PutLe(row, p, 4);  // B G R A
        rows.push_back(row);
    }
    return MakeDib(s, {}, rows);
}
