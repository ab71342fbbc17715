#!/usr/bin/env python3
"""Writes the sample sound folders used by `twsim check` and its tests.

sound-sample/  a good folder: the configuration example from the docs and
               three 16-bit PCM sounds that sound like what they stand for:
               the APU spooling up, the APU running (a hum that loops
               without a click) and a warbling gear horn.
sound-faults/  the same kinds of sounds with the mistakes aircraft builders
               make: lines the module ignores and WAV files it cannot use.

The output is deterministic; run it again after changing it and commit the
files it writes.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 22050


def chunk(cid, data, size=None):
    size = len(data) if size is None else size
    return cid + struct.pack("<I", size) + data + (b"\0" if len(data) % 2 else b"")


def riff(form, *chunks):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def pcm_format(channels=1, rate=RATE, bits=16):
    align = channels * bits // 8
    return struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits)


def samples(seconds, tone, fade=True):
    frames = int(RATE * seconds)
    out = bytearray()
    for n in range(frames):
        t = n / RATE
        # Short fades at both ends so the sounds do not click; a loop has
        # none, since its end runs straight into its start.
        edge = min(1.0, n / 200.0, (frames - 1 - n) / 200.0) if fade else 1.0
        value = int(max(-1.0, min(1.0, tone(t) * edge)) * 12000)
        out += struct.pack("<h", value)
    return bytes(out)


APU_START_SECONDS = 2.0


def apu_start(t):
    # Spooling up: the whine rises from 150 Hz towards the 1100 Hz of the
    # running APU (apu_run.wav) and grows louder, over a low rumble.
    # f(t) = 150 + 950 (1 - exp(-t / 0.7)); the phase is its integral.
    tau = 0.7
    phase = 2 * math.pi * (150 * t + 950 * (t - tau * (1 - math.exp(-t / tau))))
    level = 0.35 + 0.65 * min(1.0, t / 1.2)
    return level * (0.55 * math.sin(phase) + 0.15 * math.sin(3 * phase) + 0.2 * math.sin(phase / 5))


def apu_run(t):
    # Whole cycles of every partial in 0.2 s, and no fades, so that it loops
    # without a click: the sample after the last is the first again.
    return 0.5 * math.sin(2 * math.pi * 1100 * t) + 0.25 * math.sin(2 * math.pi * 220 * t) + 0.1 * math.sin(2 * math.pi * 3300 * t)


def gear_horn(t):
    freq = 600 if int(t * 8) % 2 == 0 else 800
    return 0.7 * (1 if math.sin(2 * math.pi * freq * t) >= 0 else -1) * 0.6


def wav(seconds, tone, fade=True):
    return riff(b"WAVE", chunk(b"fmt ", pcm_format()), chunk(b"data", samples(seconds, tone, fade)))


def write(folder, name, data):
    path = os.path.join(HERE, folder, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


SAMPLE_CFG = """[general]
mastercontroller=SoundMaster
buffervolwrite=SoundVolume
bufferpanwrite=SoundPan
buffervolread=SoundVolumeOut
bufferpanread=SoundPanOut

[sounditems]
ApuStart, apu_start.wav
ApuRun, apu_run.wav, -800
GearHorn, horns\\gear_horn.wav, 0
"""

FAULTS_CFG = (
    b"; comments are not part of the format: this line is simply ignored\r\n"
    b"[general]\r\n"
    b"MasterController=SoundMaster\r\n"
    b"buffervolwrite =SoundVolume\r\n"
    b"bufferpanwrite= SoundPan\r\n"
    b"mastercontroler=Typo\r\n"
    b"mastercontroller=SoundMasterTwo\r\n"
    b"\r\n"
    b"[sounditems]\r\n"
    b"GearHorn, horns\\gear_horn.wav, 0\r\n"
    b"Flaps, flaps.wav\r\n"
    b"Chime, chime.wav\r\n"
    b"Movie, movie.wav\r\n"
    b"NoFormat, no_fmt.wav\r\n"
    b"NoData, no_data.wav\r\n"
    b"Adpcm, adpcm.wav, -500\r\n"
    b"Truncated, truncated.wav\r\n"
    b"Empty, empty_data.wav\r\n"
    b"a,b.wa\r\n"
    b"gearhorn.wav\r\n"
    b", nameless.wav\r\n"
    b"Loud, horns\\gear_horn.wav, loud\r\n"
    b"Caf\xe9Bell, horns\\gear_horn.wav, -20000\r\n"
    b"[ sound items ]\r\n"
    b"Extra, horns\\gear_horn.wav\r\n"
)


def main():
    write("sound-sample", "twsound.cfg", SAMPLE_CFG.encode("ascii"))
    write("sound-sample", "apu_start.wav", wav(APU_START_SECONDS, apu_start))
    write("sound-sample", "apu_run.wav", wav(0.2, apu_run, fade=False))
    write("sound-sample", "horns/gear_horn.wav", wav(0.5, gear_horn))

    write("sound-faults", "twsound.cfg", FAULTS_CFG)
    write("sound-faults", "horns/gear_horn.wav", wav(0.25, gear_horn))
    # flaps.wav is missing on purpose.
    write("sound-faults", "chime.wav", b"ID3\x03\x00 this is an MP3 file renamed to .wav")
    write("sound-faults", "movie.wav", riff(b"AVI ", chunk(b"LIST", b"hdrlavih")))
    write("sound-faults", "no_fmt.wav", riff(b"WAVE", chunk(b"data", b"\0\0\0\0")))
    write("sound-faults", "no_data.wav", riff(b"WAVE", chunk(b"fmt ", pcm_format())))
    adpcm_format = struct.pack("<HHIIHHH", 2, 1, RATE, 11155, 512, 4, 2) + b"\xf4\x03"
    write("sound-faults", "adpcm.wav", riff(b"WAVE", chunk(b"fmt ", adpcm_format), chunk(b"data", bytes(512))))
    pcm = samples(0.05, gear_horn)
    write("sound-faults", "truncated.wav", riff(b"WAVE", chunk(b"fmt ", pcm_format()), chunk(b"data", pcm, size=len(pcm) * 4)))
    write("sound-faults", "empty_data.wav", riff(b"WAVE", chunk(b"fmt ", pcm_format()), chunk(b"data", b"")))


if __name__ == "__main__":
    main()
