// The page of `twsim serve`, built into the program (page/, turned into
// arrays by cmake/embed_files.cmake).
#pragma once

#include <cstddef>

struct PageFile {
    const char* path;  // the URL path it answers
    const char* type;  // its content type
    const unsigned char* data;
    size_t size;
};

extern const PageFile kPageFiles[];
extern const size_t kPageFileCount;
