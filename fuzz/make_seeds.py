#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into OUT/<target>/: small files of
every kind each target reads, made by the tools the project installs
(ImageMagick, netpbm, PIL, sox, lame) or written here by hand where the
format is the game's own. Usage: make_seeds.py OUT"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

OUT = sys.argv[1]
TMP = tempfile.mkdtemp(prefix="nura-seeds-")


def target(name):
    path = os.path.join(OUT, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def tmp(name):
    return os.path.join(TMP, name)


def images(folder):
    # A 16 x 8 gradient with a translucent ramp, as the source of every picture.
    src = tmp("src.png")
    run("convert", "-size", "16x8", "gradient:#ff2040-#20a0ff", "(", "-size", "16x8", "gradient:white-#404040",
        ")", "-alpha", "off", "-compose", "copy_opacity", "-composite", "PNG32:" + src)
    out = lambda n: os.path.join(folder, n)

    def convert(args, name):  # name may carry ImageMagick's "FORMAT:" prefix
        prefix, _, file = name.rpartition(":")
        run("convert", src, *args, (prefix + ":" if prefix else "") + out(file))

    # PNG: each colour type, 16 bits, interlaced, a palette with gAMA.
    convert(["-alpha", "off", "-colorspace", "gray", "-depth", "8"], "gray.png")
    convert(["-colorspace", "gray"], "gray_alpha.png")
    convert(["-alpha", "off"], "PNG24:rgb.png")
    convert([], "PNG32:rgba.png")
    convert(["-depth", "16"], "PNG64:rgba16.png")
    convert(["-interlace", "PNG", "-alpha", "off"], "PNG24:interlaced.png")
    convert(["-alpha", "off", "-colors", "16", "-define", "png:include-chunk=gAMA", "-gamma", "0.8"],
            "PNG8:palette_gamma.png")
    im = Image.open(src).convert("RGBA").quantize(8)
    im.save(out("palette_trns.png"), transparency=3)
    Image.open(src).convert("1").save(out("bilevel.png"))
    # JPEG: baseline, progressive, grey, subsampled.
    convert(["-alpha", "off", "-quality", "60"], "baseline.jpg")
    convert(["-alpha", "off", "-interlace", "JPEG"], "progressive.jpg")
    convert(["-alpha", "off", "-colorspace", "gray"], "gray.jpg")
    convert(["-alpha", "off", "-sampling-factor", "2x2"], "sub420.jpg")
    # BMP and DIB (a BMP without its 14-byte file header).
    convert(["-alpha", "off"], "BMP3:rgb24.bmp")
    convert(["-alpha", "off", "-colors", "16", "-type", "palette"], "BMP3:pal4.bmp")
    convert(["-alpha", "off", "-colors", "200", "-type", "palette", "-compress", "RLE"], "BMP3:rle8.bmp")
    convert([], "BMP:argb32.bmp")
    convert(["-alpha", "off", "-define", "bmp:subtype=RGB565"], "BMP:rgb565.bmp")
    with open(out("rgb24.bmp"), "rb") as f:
        data = f.read()
    with open(out("rgb24.dib"), "wb") as f:
        f.write(data[14:])
    # TGA: plain, run-length, grey, palette.
    convert([], "rgba.tga")
    convert(["-compress", "RLE"], "rle.tga")
    convert(["-alpha", "off", "-colorspace", "gray"], "gray.tga")
    convert(["-alpha", "off", "-colors", "16", "-type", "palette"], "palette.tga")
    # DDS: block compressed with mips, plain.
    convert(["-define", "dds:compression=dxt1", "-define", "dds:mipmaps=2"], "dxt1.dds")
    convert(["-define", "dds:compression=dxt5", "-define", "dds:mipmaps=0"], "dxt5.dds")
    convert(["-define", "dds:compression=none", "-define", "dds:mipmaps=0"], "argb.dds")
    # PNM: binary and text.
    convert(["-alpha", "off"], "rgb.ppm")
    convert(["-alpha", "off", "-colorspace", "gray"], "gray.pgm")
    convert(["-alpha", "off", "-compress", "none"], "text.ppm")
    # HDR (run-length rows from width 8) and PFM.
    convert(["-alpha", "off"], "rle.hdr")
    convert(["-alpha", "off", "-resize", "4x8!"], "flat.hdr")
    convert(["-alpha", "off"], "rgb.pfm")
    convert(["-alpha", "off", "-colorspace", "gray"], "gray.pfm")


def sounds(wave_folder, mp3_folder):
    tone = lambda name, *fmt: run("sox", "-n", *fmt, os.path.join(wave_folder, name), "synth", "0.01", "sine", "440")
    tone("mono8.wav", "-r", "8000", "-c", "1", "-b", "8")
    tone("stereo16.wav", "-r", "11025", "-c", "2", "-b", "16")
    tone("mono24.wav", "-r", "8000", "-c", "1", "-b", "24")
    # A WAVE file with a list chunk before the data and an odd-sized one after.
    with open(os.path.join(wave_folder, "mono8.wav"), "rb") as f:
        plain = f.read()
    fmt_end = 12 + 8 + struct.unpack_from("<I", plain, 16)[0]
    extra = b"LIST" + struct.pack("<I", 4) + b"INFO"
    tail = b"junk" + struct.pack("<I", 3) + b"abc\0"
    body = plain[12:fmt_end] + extra + plain[fmt_end:] + tail
    with open(os.path.join(wave_folder, "chunks.wav"), "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body)

    def mp3(name, rate, channels, seconds, *lame):
        wav = tmp(name + ".wav")
        run("sox", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", wav, "synth", seconds, "sine", "330")
        path = tmp(name)
        run("lame", "--quiet", *lame, wav, path)
        with open(path, "rb") as f:
            return f.read()

    mono = mp3("mono.mp3", 22050, 1, "0.15", "-b", "32")
    stereo = mp3("stereo.mp3", 44100, 2, "0.1", "-b", "64", "--tt", "seed")
    vbr = mp3("vbr.mp3", 16000, 1, "0.2", "-V", "6")
    for name, data in (("mono.mp3", mono), ("stereo.mp3", stereo), ("vbr.mp3", vbr),
                       ("changing.mp3", mono + stereo + vbr)):
        with open(os.path.join(mp3_folder, name), "wb") as f:
            f.write(data)


def texts(csv_folder, score_folder, stage_folder):
    def put(folder, name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    put(csv_folder, "plain.csv", b"a,b,c\r\n1,22,333\r\n")
    put(csv_folder, "ragged.csv", b"x\n,,\n\r\nlast,row")
    put(csv_folder, "bytes.csv", "ステージ,1,-7\r\n\t 12 ,+3,\r\n".encode("cp932"))

    # The score file: a header slot, a record per stage, reserved slots; the
    # first byte of each seed chooses the slot the target records.
    def score(times, flags):
        slots = [struct.pack("<I", 3000000) + bytes([1] + flags)]
        for s in range(1, 110):
            t = times.get(s, 3000000)
            slots.append(struct.pack("<I", t) + (b"ABC\0" if s in times else b"QZX\0"))
        return b"".join(slots)

    put(score_folder, "fresh.dat", b"\x05" + score({}, [0, 0, 0]))
    put(score_folder, "records.dat", b"\x02" + score({1: 45678, 2: 999999, 50: 1000001}, [1, 0, 1]))
    put(score_folder, "short.dat", b"\x07" + score({3: 1}, [0, 1, 0])[:100])

    floors = b"1,0,0,480,480\r\n1,480,0,960,200\r\n2,0,0,1440,1440\r\n"
    stages = (b"1,0,20,30\r\n1,1,900,0,960,40\r\n1,2,1,100,200,50,8\r\n1,2,3,300,300,40,0\r\n"
              b"1,3,2,40\r\n1,3,3,12\r\n1,4,30,60,90\r\n2,0,5,5\r\n2,4,10,20,30\r\n")
    put(stage_folder, "stage1.bin", b"\x02" + floors + b"\0" + stages)
    put(stage_folder, "stage2.bin", b"\x03" + floors + b"\0" + stages)
    put(stage_folder, "missing.bin", b"\x32" + floors + b"\0" + b"50,9,1\r\n50\r\n")


image_folder = target("image_decode")
images(image_folder)
texture_folder = target("texture_build")
for name in os.listdir(image_folder):
    shutil.copy(os.path.join(image_folder, name), texture_folder)
sounds(target("wave"), target("mp3_stream"))
texts(target("csv"), target("score_file"), target("stage_tables"))
shutil.rmtree(TMP)
