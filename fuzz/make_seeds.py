#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into OUT/<target>/: small files of
every kind each target reads, made by the tools the project installs
(ImageMagick, netpbm, PIL, sox, lame) or written here by hand where the
format is the game's own or the tools do not write it (DDS cube maps and
volumes, expression code, shader snippets). With --corpus, frames the shader
sources of a corpus folder into OUT/ as seeds of one shader target instead.
Usage: make_seeds.py OUT | make_seeds.py --corpus CORPUS OUT TARGET"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

OUT = sys.argv[-2] if sys.argv[1] == "--corpus" else sys.argv[1]
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


# The shader targets' inputs (see the framing comment of each fuzz/shader_*.cpp).
PROFILES = sorted(["ps", "ps.1.0", "ps.1.1", "ps.1.2", "ps.1.3", "ps.1.4", "ps.2.0", "ps.2.a", "ps.2.b", "ps.2.sw",
                   "ps.2.x", "ps.3.0", "ps.3.sw", "ps_1_0", "ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4", "ps_2_0",
                   "ps_2_a", "ps_2_b", "ps_2_sw", "ps_2_x", "ps_3_0", "ps_3_sw", "tx", "tx_1_0", "vs", "vs.1.0",
                   "vs.1.1", "vs.2.0", "vs.2.a", "vs.2.sw", "vs.2.x", "vs.3.0", "vs.3.sw", "vs_1_0", "vs_1_1",
                   "vs_2_0", "vs_2_a", "vs_2_sw", "vs_2_x", "vs_3_0", "vs_3_sw"])


def compile_input(profile, source, flags=0, first_identifier=False):
    return bytes([PROFILES.index(profile), flags, int(first_identifier)]) + source


def preprocess_input(main, defines=None, includes=()):
    if defines is None and not includes:
        return main
    parts = [defines or b"", main]
    for name, text in includes:
        parts += [name, text]
    return b"\0".join(parts)


VERTEX = b"""float4x4 World;
float4 Tint = float4(1, 0.5, 0.25, 1);
struct VsOut { float4 pos : POSITION; float4 color : COLOR0; float2 uv : TEXCOORD0; };
VsOut main(float4 p : POSITION, float3 n : NORMAL, float2 uv : TEXCOORD0) {
  VsOut o;
  o.pos = mul(p, World);
  float d = saturate(dot(normalize(n), float3(0, 0, 1)));
  o.color = Tint * d;
  o.uv = uv * 2 - 1;
  return o;
}
"""
PIXEL = b"""sampler2D Base : register(s0);
samplerCUBE Sky;
float4 Fog[2];
int Count = 3;
float4 main(float2 uv : TEXCOORD0, float3 r : TEXCOORD1, float4 c : COLOR0) : COLOR {
  float4 t = tex2D(Base, uv) * c;
  for (int i = 0; i < 3; i++) t.rgb += texCUBE(Sky, r).rgb * 0.25;
  if (t.a < 0.5) discard;
  return lerp(t, Fog[0], Fog[1].x);
}
"""
FLOW = b"""bool Wide;
float4 Step[4];
float4 main(float4 p : POSITION, float k : TEXCOORD0) : POSITION {
  float4 s = 0;
  for (int i = 0; i < 4; ++i) { if (s.x > k) break; s += Step[i] * p; }
  while (s.y > 10) s.y -= 3;
  do { s.z = s.z * 0.5; } while (s.z > 1);
  return Wide ? s.yxzw : sin(s) + exp2(s) * log(abs(s) + 1) + pow(abs(s), 0.3);
}
"""
ASSEMBLY = [
    (0, b"vs_1_1\ndcl_position v0\ndcl_normal v1\ndef c10, 1, 0.5, -2, 1e39\nm4x4 oPos, v0, c0\n"
        b"dp3 r0.x, v1, c4\nlit r1, r0\nmov oD0, r1\nexpp oT0.xy, r0.x\nmov a0.x, c5.x\n"
        b"mov oT1, c[a0.x + 6]\n"),
    (1, b"vs_2_0\ndcl_position v0\ndefi i0, 3, 0, 1, 0\ndefb b0, true\nrep i0\nadd r0, r0, v0\nendrep\n"
        b"if b0\nsincos r1.xy, r0.x, c1, c2\nelse\nnrm r1.xyz, r0\nendif\ncall l0\nmov oPos, r0\nret\n"
        b"label l0\nmov r0.w, c0.x\nret\n"),
    (0, b"vs_3_0\ndcl_position v0\ndcl_position o0\ndcl_texcoord3 o1.xy\ndcl_2d s0\n"
        b"texldl r0, v0, s0\nsetp_gt p0.x, r0.x, c0.x\n(p0.x) mov r0, -r0_abs\nloop aL, i0\n"
        b"add r1, r1, c[aL + 2]\nbreak_lt r1.x, c1.x\nendloop\nmov o0, r0\nmov o1.xy, r1\n"),
    (0, b"ps_1_1\ntex t0\ntexcoord t1\nmul r0.rgb, t0, v0\n+ mov r0.a, t1.b\nmad_x2_sat r0.rgb, t0_bx2, c0, r0\n"
        b"cnd r0, r0.a, r0, 1-t0\n"),
    (0, b"ps_1_3\ntex t0\ntexm3x3pad t1, t0_bx2\ntexm3x3pad t2, t0_bx2\ntexm3x3vspec t3, t0_bx2\n"
        b"mul r0, t3, v0\n"),
    (0, b"ps_1_4\ndef c0, 0.5, 0.5, 0.5, 0\ntexld r1, t1\ntexcrd r0.xyz, t0\nmad r0.xy, r1_bx2, c0, r0\n"
        b"phase\ntexld r0, r0_dz\nmul r0, r0, v0\n"),
    (0, b"ps_2_0\ndcl t0.xy\ndcl v0\ndcl_2d s0\ndcl_cube s1\ntexld r0, t0, s0\ntexldp r1, t0, s1\n"
        b"dp2add r2.x, r0, r1, c0.x\ncmp r0, r2.x, r0, r1\nmov_pp oC0, r0\n"),
    (2, b"ps_3_0\ndcl_texcoord0_centroid v0.xy\ndcl vPos.xy\ndcl vFace\ndcl_2d s0\n"
        b"dsx r1, v0\ndsy r2, v0\ntexldd r0, v0, s0, r1, r2\nif_lt vFace, c0.x\nmov r0, c1\nendif\n"
        b"mov oC0, r0\nmov oDepth, r0.x\n"),
    (1, b"#define SCALE c2\n#if defined(SCALE) && 1 + 2 * 3 == 7\nvs.1.1\n#else\nvs.2.0\n#endif\n"
        b"dcl_position v0\nmul oPos, v0, SCALE\n"),
]
FRAGMENTS = b"""float4 Scale;
void vmain(float4 p : POSITION, out float4 o : POSITION) { o = p * Scale; }
float4 pmain(float4 c : COLOR0) : COLOR { return c.bgra; }
vertexfragment Transform = compile_fragment vs_1_1 vmain();
pixelfragment Swap = compile_fragment ps_2_0 pmain();
vertexfragment Raw = asm_fragment { vs_2_0 mov r_a, c_Scale mov oPos, r_a };
"""


def shaders():
    def put(target_name, files):
        folder = target(target_name)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)

    put("shader_preprocess", {
        "plain.hlsl": VERTEX,
        "defines.hlsl": preprocess_input(b"#if A(2) > B\nfloat4 x = STR(C D);\n#elif defined B\n#error no\n#endif\n"
                                         b"#line 40 \"other.hlsl\"\n__FILE__ __LINE__ F(1,(2,3))\n",
                                         b"A(x)=x*3\nB=5\nC\nD=-"),
        "macros.hlsl": b"#define CAT(a, b) a ## b\n#define STR(x) #x\n#define F(x, y) CAT(x, y) STR(y)\n"
                       b"#define G F(F(1, 2), G)\nG F(, ) CAT(CAT(a, b), c)\n#undef G\n#pragma pack_matrix(row_major)\n"
                       b"#pragma warning(disable : 3205)\n#pragma def(vs_2_0, c4, 1.0, 2.0, 3.0, 4.0)\n",
        "include.hlsl": preprocess_input(b'#include "a.h"\n#include <b.h>\nA B\n', b"",
                                         [(b"a.h", b'#define A 1\n#include "b.h"\n'), (b"b.h", b"#ifndef B\n#define B 2\n#endif\n")]),
        "assembly.psh": preprocess_input(ASSEMBLY[6][1] + b"; a comment\n", b";"),
    })
    put("shader_assemble", {"%02d.asm" % i: bytes([flags]) + text for i, (flags, text) in enumerate(ASSEMBLY)})
    compile_seeds = {}
    for profile in ("vs_1_1", "vs_2_0", "vs_2_a", "vs_3_0", "vs.2.x", "vs_1_0"):
        compile_seeds["vertex_%s.hlsl" % profile] = compile_input(profile, VERTEX)
    for profile in ("ps_1_1", "ps_1_4", "ps_2_0", "ps_2_b", "ps_3_0", "ps_2_sw"):
        compile_seeds["pixel_%s.hlsl" % profile] = compile_input(profile, PIXEL)
    for n, (profile, flags) in enumerate((("vs_2_0", 0x04), ("vs_2_a", 0x80), ("vs_3_0", 0x40), ("vs_1_1", 0x01))):
        compile_seeds["flow_%d.hlsl" % n] = compile_input(profile, FLOW, flags)
    compile_seeds["expression.hlsl"] = compile_input("tx_1_0", b"float4 main(float3 p : POSITION) : COLOR "
                                                     b"{ return float4(p, length(p)); }\n")
    put("shader_compile", compile_seeds)
    put("shader_fragments", {"fragments.hlsl": b"\0" + FRAGMENTS, "debug.hlsl": b"\x05" + FRAGMENTS})
    put("shader_compile_gen", {"%02d.bin" % n: bytes([n * 7 % 64, n * 37 % 256, n, 1, 2, 3]) for n in range(24)})


# Compiles that take over a minute in the instrumented fuzz build, past the
# bounded runs' per-input limit: the scheduler's improvement rounds over the
# 321 instructions of ntsc's pixel shader at shader model 3. Long runs meet
# them through the fuzzer's own mutations.
SLOW_COMPILES = {("mame_ntsc.fx", b"ps_3_0")}


def corpus_seeds(corpus, out, target_name):
    """The corpus's sources framed as inputs of one shader target."""
    sources = {}
    for root, _, files in os.walk(corpus):
        for name in sorted(files):
            if name.rsplit(".", 1)[-1] in ("hlsl", "hlsli", "fx", "vsh", "psh"):
                with open(os.path.join(root, name), "rb") as f:
                    sources[os.path.relpath(os.path.join(root, name), corpus).replace(os.sep, "_")] = f.read()
    # The pixel halves of allegro5 read the vertex half's structures.
    for name in list(sources):
        vertex = name.replace("_pixel.", "_vertex.")
        if name.startswith("allegro5_") and vertex != name and vertex in sources:
            sources[name] = sources[vertex] + b"\n#line 1\n" + sources[name]
    seeds = {}
    for name, text in sources.items():
        assembly = name.endswith((".vsh", ".psh"))
        if target_name == "shader_preprocess":
            includes = [(n.split("_", 1)[1].encode(), t) for n, t in sources.items() if n.endswith(".hlsli")]
            seeds[name] = preprocess_input(text, b";" if assembly else b"", includes)
        elif target_name == "shader_assemble" and assembly:
            seeds[name] = b"\0" + text
        elif target_name == "shader_fragments" and name.endswith(".fx"):
            seeds[name] = b"\0" + text
        elif target_name == "shader_compile" and name.endswith((".hlsl", ".fx")):
            # The entries the techniques compile, else each function for the
            # stage its file name suggests.
            pairs = re.findall(rb"compile\s+(\w+)\s+(\w+)\s*\(", text)
            if not pairs:
                functions = re.findall(rb"^\w+\s+(\w+)\s*\([^;]*?\)[^;]*?\{", text, re.M)
                vertex = lambda f: "vertex" in name or f.lower().startswith((b"vs", b"vertex"))
                pairs = [(b"vs_2_0" if vertex(f) else b"ps_2_0", f) for f in functions]
            for profile, entry in sorted(set(pairs)):
                if (name, profile) in SLOW_COMPILES:
                    continue
                if profile.decode() in PROFILES:
                    seeds["%s_%s_%s" % (name, entry.decode(), profile.decode())] = compile_input(
                        profile.decode(), b"// " + entry + b"\n" + text, 0, True)
    if seeds:
        os.makedirs(out, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if sys.argv[1] == "--corpus":
    corpus_seeds(sys.argv[2], sys.argv[3], sys.argv[4])
    shutil.rmtree(TMP)
    sys.exit(0)


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
shaders()
shutil.rmtree(TMP)
