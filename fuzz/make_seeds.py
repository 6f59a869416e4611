#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into OUT/<target>/: small files of
every kind each target reads, made by the tools the project installs
(ImageMagick, netpbm, PIL, sox, lame) or written here by hand where the
format is the game's own or the tools do not write it (DDS cube maps and
volumes, expression code). Usage: make_seeds.py OUT"""
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
    # DDS that ImageMagick does not write: cube maps, volumes, a palette.
    dds_shapes(folder, Image.open(src).convert("RGBA"), out("dxt1.dds"))
    # PNM: binary and text.
    convert(["-alpha", "off"], "rgb.ppm")
    convert(["-alpha", "off", "-colorspace", "gray"], "gray.pgm")
    convert(["-alpha", "off", "-compress", "none"], "text.ppm")
    # HDR (run-length rows from width 8) and PFM.
    convert(["-alpha", "off"], "rle.hdr")
    convert(["-alpha", "off", "-resize", "4x8!"], "flat.hdr")
    convert(["-alpha", "off"], "rgb.pfm")
    convert(["-alpha", "off", "-colorspace", "gray"], "gray.pfm")
    # Floats no picture tool writes: infinities, NaN, negatives, the largest
    # and the denormal.
    odd = [3e38, float("inf"), float("nan"), -1.0, 1.7e38, 1e-35, 0.5, 2.0, 1e30, 3e-39, 65504.0, -float("inf")]
    texels = b"".join(struct.pack("<3f", v, odd[(i + 1) % 12], odd[(i + 5) % 12]) for i, v in enumerate(odd))
    with open(out("extreme.pfm"), "wb") as f:
        f.write(b"PF\n4 3\n-1.0\n" + texels)


def dds_file(path, width, height, pixel_format, texels, depth=1, levels=1, cube=False, palette=b""):
    """A DDS file written by hand: header, palette, then the texel bytes as given
    (every face, level and slice in order)."""
    flags = 0x1007 | (0x20000 if levels > 1 else 0) | (0x800000 if depth > 1 else 0)
    caps = 0x1000 | (0x400008 if levels > 1 else 0) | (0x8 if cube else 0)
    caps2 = (0xFE00 if cube else 0) | (0x200000 if depth > 1 else 0)
    header = struct.pack("<7I", 124, flags, height, width, 0, depth, levels) + bytes(44)
    header += struct.pack("<8I", 32, *pixel_format) + struct.pack("<5I", caps, caps2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"DDS " + header + palette + texels)


def dds_shapes(folder, rgba, dxt1_path):
    out = lambda n: os.path.join(folder, n)
    argb = (0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)

    def bgra(w, h, x0=0):  # A8R8G8B8 words of a corner of the picture
        r, g, b, a = rgba.crop((x0, 0, x0 + w, h)).split()
        return Image.merge("RGBA", (b, g, r, a)).tobytes()

    face = bgra(4, 4) + bgra(2, 2) + bgra(1, 1)
    dds_file(out("cube_argb.dds"), 4, 4, argb, face * 6, levels=3, cube=True)
    with open(dxt1_path, "rb") as f:
        blocks = f.read()[128:128 + 32]  # the top 8 x 8 texels' blocks
    dds_file(out("cube_dxt1.dds"), 8, 8, (0x4, 0x31545844, 0, 0, 0, 0, 0), blocks * 6, cube=True)
    slices = b"".join(bgra(4, 4, 4 * z) for z in range(4))
    dds_file(out("volume_argb.dds"), 4, 4, argb, slices + bgra(2, 2) * 2 + bgra(1, 1), depth=4, levels=3)
    grey = rgba.convert("L")
    dds_file(out("volume_l8.dds"), 8, 4, (0x20000, 0, 8, 0xFF, 0, 0, 0),
             grey.crop((0, 0, 8, 4)).tobytes() + grey.crop((8, 4, 16, 8)).tobytes(), depth=2)
    quantized = rgba.convert("RGB").quantize(16)
    entries = quantized.getpalette()[:48]
    palette = b"".join(bytes(entries[3 * i:3 * i + 3]) + bytes([255 - 16 * i]) for i in range(16)) + bytes(960)
    dds_file(out("palette.dds"), 16, 8, (0x20, 0, 8, 0, 0, 0, 0), quantized.tobytes(), palette=palette)


def texture_requests(image_folder, folder):
    """Image files behind four option bytes: texture format, filters, the type,
    size, level, key and pool requests, and the device profiles (see
    texture_formats.cpp)."""
    requests = [
        (0, 0x00, 0x00, 0x00, "rgba.png"),  # DXT1, default filters
        (1, 0x2D, 0x01, 0x00, "rgba.png"),  # DXT2, box copy and mips
        (2, 0x64, 0x00, 0x01, "rgba.tga"),  # DXT3, triangle, dither; powers of two only
        (3, 0x19, 0x02, 0x00, "cube_argb.dds"),  # DXT4 cube, no filter, linear mips
        (4, 0x12, 0x03, 0x08, "volume_argb.dds"),  # DXT5 volume, point; every format
        (5, 0x80, 0x00, 0x00, "rle.hdr"),  # A8R8G8B8, sRGB and diffusion
        (7, 0x40, 0x04, 0x02, "baseline.jpg"),  # R5G6B5, sizes as in the file; square only
        (16, 0x00, 0x10, 0x00, "palette.tga"),  # P8 with the palette, the file's levels
        (17, 0x24, 0x00, 0x08, "gray.png"),  # V8U8
        (22, 0x1B, 0x00, 0x08, "rgb.pfm"),  # A16B16G16R16F
        (24, 0x2C, 0x30, 0x0B, "flat.hdr"),  # A32B32G32R32F, 3 levels; 256 x 256 at most
        (26, 0x00, 0x00, 0x08, "rgb24.bmp"),  # UYVY
        (28, 0x00, 0x18, 0x00, "dxt1.dds"),  # the file's format, sizes and levels exactly
        (29, 0x00, 0x80, 0x00, "cube_dxt1.dds"),  # the file's format, default pool
        (11, 0x00, 0x40, 0x05, "argb32.bmp"),  # A8 with a colour key; no mipmaps
        (15, 0x2D, 0x20, 0x08, "rgba16.png"),  # L16, one level
        (29, 0x00, 0x00, 0x00, "palette.dds"),
        (12, 0x00, 0x03, 0x04, "volume_l8.dds"),  # L8 volume; no cube or volume textures
    ]
    for n, (fmt, filters, request, device, name) in enumerate(requests):
        with open(os.path.join(image_folder, name), "rb") as f:
            data = f.read()
        with open(os.path.join(folder, "%02d_%s" % (n, name)), "wb") as f:
            f.write(bytes([fmt, filters, request, device]) + data)


def dxt_blocks(image_folder, folder):
    """Blocks of the DXT files ImageMagick wrote, blocks made by hand for the
    rules a file seldom shows, and 16 texels as RGBA bytes."""
    def put(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    for name in ("dxt1.dds", "dxt5.dds"):
        with open(os.path.join(image_folder, name), "rb") as f:
            put(name[:-4] + ".bin", f.read()[128:128 + 128])
    colour = lambda c0, c1, idx: struct.pack("<HHI", c0, c1, idx)
    put("three_colour.bin", colour(0x1234, 0x8765, 0xE4E4E4E4) * 2)  # colour0 < colour1
    put("equal_ends.bin", colour(0x7BEF, 0x7BEF, 0xFFFFFFFF) * 2)
    put("alpha_six_steps.bin", bytes([10, 200]) + bytes([0x88, 0xC6, 0xFA, 0x05, 0x39, 0x77]) +
        colour(0xF800, 0x001F, 0x1B1B1B1B))
    put("alpha_nibbles.bin", bytes(range(0, 256, 32)) + colour(0xFFFF, 0x0000, 0x55AA55AA))
    with open(os.path.join(image_folder, "rgba.png"), "rb") as f:
        rgba = Image.open(f).convert("RGBA")
        put("texels.bin", rgba.crop((0, 0, 4, 4)).tobytes() + rgba.crop((12, 4, 16, 8)).tobytes())


def expressions(folder):
    """Expression code in the layout of the compiled texture shaders: a version
    token, "FXLC" and "CLIT" comments, the end token, behind a byte that picks
    how the code runs (see expression.cpp)."""
    fcc = lambda t: struct.unpack("<I", t)[0]

    def arg(kind, index, terms=()):
        words = [len(terms)]
        for k, i in terms:
            words += [k, i]
        return words + [kind, index]

    def code(program, literals, version=0x54580100):
        fxlc = [len(program)]
        for op, count, inputs, output in program:
            fxlc += [op | count, len(inputs)]
            for a in inputs:
                fxlc += a
            fxlc += output
        clit = [len(literals)] + [w for d in literals for w in struct.unpack("<2I", struct.pack("<d", d))]
        words = [version]
        for tag, data in ((b"FXLC", fxlc), (b"CLIT", clit)):
            words += [0xFFFE | (len(data) + 1) << 16, fcc(tag)] + data
        return struct.pack("<%dI" % (len(words) + 1), *words, 0x0000FFFF)

    scalar = 0x80000000
    position, size, colour, temp = arg(3, 0), arg(3, 4), arg(4, 0), arg(7, 0)
    programs = {
        "mov": ([(0x10000000, 4, [position], colour)], []),
        "scale": ([(0x20500000, 2, [position, arg(2, 0)], temp), (0x20400000 | scalar, 2, [size, temp], colour),
                   (0x10000000, 2, [arg(1, 1)], arg(4, 2))], [0.5]),
        "unary": ([(op, 2, [position], arg(7, 4 * k)) for k, op in enumerate(range(0x10000000, 0x10D00000, 0x100000))]
                  + [(0x10000000, 4, [arg(7, 8)], colour)], []),
        "binary": ([(op | flag, 3, [position, size], arg(7, 4 * k)) for k, op in
                    enumerate(range(0x20000000, 0x20700000, 0x100000)) for flag in (0, scalar)]
                   + [(0x30000000, 4, [arg(1, 0), position, size], colour)], [-1.0, 2.0]),
        "dot_noise": ([(0x50000000, 3, [position, size], arg(4, 0)), (0x50200000, 2, [position], arg(5, 1)),
                       (0x70E00000, 1, [position, size, arg(1, 0), arg(1, 1)], arg(6, 2))], [3.0, 0.25]),
        "relative": ([(0x10000000, 1, [arg(1, 0)], temp),
                      (0x10000000, 4, [arg(2, 0, [(7, 0)])], colour),
                      (0x20400000, 4, [arg(3, 0, [(1, 1), (7, 0)]), arg(6, 0)], arg(5, 0))], [1.0, 2.0]),
    }
    for name, (program, literals) in programs.items():
        for option in (0x00, 0x01, 0x46, 0x8B, 0x53):  # direct; 2-D, cube, volume fills
            with open(os.path.join(folder, "%s_%02x.bin" % (name, option)), "wb") as f:
                version = 0x46580200 if option == 0 else 0x54580100
                f.write(bytes([option]) + code(program, literals, version))


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
for name in ("texture_build", "image_save"):
    folder = target(name)
    for file in os.listdir(image_folder):
        shutil.copy(os.path.join(image_folder, file), folder)
texture_requests(image_folder, target("texture_formats"))
dxt_blocks(image_folder, target("dxt_block"))
expressions(target("expression"))
sounds(target("wave"), target("mp3_stream"))
texts(target("csv"), target("score_file"), target("stage_tables"))
shutil.rmtree(TMP)
