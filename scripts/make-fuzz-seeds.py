#!/usr/bin/env python3
"""Writes the generated seed files of the fuzzers under tests/fuzz-corpus/.

png/: real PNG files of every colour type and bit depth, plain and interlaced, with and
without transparency; at and beyond the size limits; truncated, damaged and bomb-shaped files
(tiny compressed data claiming a huge image).
decoder/: real script files (the examples) plus generated ones that hold every step kind,
templates with real PNG data and the long and deep shapes the decoder bounds.
lua_source/: Lua source, a precompiled chunk (as string.dump writes it), shebang and
byte-order-mark variants.

Run from anywhere; it overwrites only the files it generates. Standard library only.
"""
import json
import os
import shutil
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
CORPUS = os.path.join(ROOT, "tests", "fuzz-corpus")

# Adam7 passes: (x start, y start, x step, y step).
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def sample(x, y, c, depth):
    return (x * 7 + y * 13 + c * 5) % (1 << depth)


def pack_row(values, depth):
    """Packs samples of `depth` bits into bytes, MSB first (16-bit samples big-endian)."""
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in values)
    if depth == 8:
        return bytes(values)
    out, acc, bits = bytearray(), 0, 0
    for v in values:
        acc = (acc << depth) | v
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def scanlines(width, height, color_type, depth, interlace):
    channels = CHANNELS[color_type]
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        ys = range(y0, height, dy)
        if not xs or not ys:
            continue
        for y in ys:
            values = [sample(x, y, c, depth) for x in xs for c in range(channels)]
            raw += b"\x00" + pack_row(values, depth)   # filter type 0 (none)
    return bytes(raw)


def png(width, height, color_type=6, depth=8, interlace=0, extra=b"", data=None, level=9):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, interlace)
    if data is None:
        data = zlib.compress(scanlines(width, height, color_type, depth, interlace), level)
    body = chunk(b"IHDR", ihdr)
    if color_type == 3:
        entries = min(1 << depth, 256)
        body += chunk(b"PLTE", bytes((i * 37 + k * 90) % 256 for i in range(entries) for k in range(3)))
    body += extra + chunk(b"IDAT", data) + chunk(b"IEND", b"")
    return b"\x89PNG\r\n\x1a\n" + body


def write(folder, name, data):
    path = os.path.join(CORPUS, folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def png_seeds():
    depths = {0: [1, 2, 4, 8, 16], 2: [8, 16], 3: [1, 2, 4, 8], 4: [8, 16], 6: [8, 16]}
    for color_type, depth_list in depths.items():
        for depth in depth_list:
            for interlace in (0, 1):
                name = f"ct{color_type}-d{depth}{'-adam7' if interlace else ''}-13x7.png"
                write("png", name, png(13, 7, color_type, depth, interlace))
    # Transparency chunks of each kind that has one.
    write("png", "ct0-d8-trns.png", png(5, 4, 0, 8, extra=chunk(b"tRNS", struct.pack(">H", 7))))
    write("png", "ct2-d16-trns.png", png(5, 4, 2, 16, extra=chunk(b"tRNS", struct.pack(">HHH", 1, 2, 3))))
    write("png", "ct3-d4-trns.png", png(5, 4, 3, 4, extra=chunk(b"tRNS", bytes(range(0, 256, 40)))))
    # Ancillary chunks the decoder meets in files from other tools.
    write("png", "ancillary.png", png(4, 4, 6, 8, extra=chunk(b"gAMA", struct.pack(">I", 45455)) +
                                      chunk(b"sRGB", b"\x00") + chunk(b"pHYs", struct.pack(">IIB", 2835, 2835, 1)) +
                                      chunk(b"tEXt", b"Comment\x00seed") + chunk(b"iCCP", b"p\x00\x00" + zlib.compress(b"x" * 64))))
    # Sizes: one pixel, the longest side allowed, one beyond it, and the template pixel limit.
    write("png", "1x1.png", png(1, 1, 6, 8))
    write("png", "16384x1.png", png(16384, 1, 0, 1))
    write("png", "1x16385.png", png(1, 16385, 0, 1))
    # Bomb-shaped: a few bytes of deflate that expand to many zeros (kept small enough that
    # the fuzzer stays fast; the large ones are refused from their headers).
    zeros = lambda w, h, bpp: zlib.compress(b"\x00" * (h * (1 + w * bpp)), 9)
    write("png", "bomb-256x256.png", png(256, 256, 0, 8, data=zeros(256, 256, 1)))
    write("png", "bomb-4096x2049-over-template-limit.png", png(4096, 2049, 0, 1, data=zeros(512, 2049, 1)))
    write("png", "bomb-claims-16384x16384.png", png(16384, 16384, 6, 16, data=zlib.compress(b"\x00" * 4096)))
    # Damaged: cut inside IDAT, cut before IEND, bad CRC, IDAT split in two, data after IEND.
    good = png(9, 9, 2, 8)
    write("png", "cut-in-idat.png", good[: len(good) // 2])
    write("png", "cut-before-iend.png", good[:-12])
    bad = bytearray(good)
    bad[-5] ^= 0xFF
    write("png", "bad-crc-iend.png", bytes(bad))
    data = zlib.compress(scanlines(9, 9, 2, 8, 0))
    split = png(9, 9, 2, 8, data=b"")[:-24]   # without the empty IDAT and IEND
    write("png", "idat-split.png", split + chunk(b"IDAT", data[:10]) + chunk(b"IDAT", data[10:]) + chunk(b"IEND", b""))
    write("png", "trailing-bytes.png", good + b"\x00" * 16)
    write("png", "short-rows.png", png(9, 9, 2, 8, data=zlib.compress(scanlines(9, 8, 2, 8, 0))))


def template(name, image):
    import base64
    return {"name": name, "widthPoints": 13, "heightPoints": 7, "originX": 10, "originY": 20, "pixelScale": 1,
            "pngBase64": base64.b64encode(image).decode()}


def decoder_seeds():
    for name in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if name.endswith(".json") and not os.path.exists(os.path.join(CORPUS, "decoder", name)):
            shutil.copy(os.path.join(ROOT, "examples", name), os.path.join(CORPUS, "decoder", "example-" + name))
    uuid = "6F1C1A8E-0A8B-4C57-9D5E-3B1F8C2E7A10"
    point = {"id": uuid, "x": 1.5, "y": 2, "red": 255, "green": 0, "blue": 128, "tolerance": 10, "enabled": True}
    branch = {"kind": "clickRegion", "targetStepID": uuid, "clickX": 3, "clickY": 4, "clickHasPoint": False,
              "clickButton": "right", "clickCount": 2, "keyCode": 36, "keyModifiers": 3, "afterAction": "jump",
              "afterStepID": uuid}
    image = template("按钮", png(13, 7, 6, 8))
    kinds = ["delay", "mouseClick", "mouseMove", "mouseScroll", "keyPress", "typeText", "colorCheck", "imageCheck",
             "lua", "goTo", "comment", "swipe"]
    steps = []
    for i, kind in enumerate(kinds):
        steps.append({"id": uuid if i == 0 else None, "kind": kind, "enabled": i % 2 == 0, "note": "第 %d 步" % i,
                      "delayMs": i * 10, "x": i, "y": -i, "hasPoint": True, "mouseButton": "center",
                      "clickKind": "doubleClick", "moveDurationMs": 600000, "scrollAmount": 3, "keyCode": 65535,
                      "keyKind": "up", "modifiers": 31, "text": "aB\u00e9\n", "colorPoints": [point, point],
                      "colorMode": "any", "template": image, "threshold": 0.85, "searchFullScreen": False,
                      "searchMargin": 12.5, "clickOnMatch": True, "waitForCondition": False, "timeoutMs": 0,
                      "pollMs": 50, "gotoStepID": uuid, "onSuccess": branch, "onFailure": {}, "luaFile": "x.lua"})
    write("decoder", "every-kind-and-key.json", json.dumps({"name": "全部", "steps": steps, "loopCount": 0,
                                                             "stepIntervalMs": 5, "templates": [image, image]},
                                                            ensure_ascii=False, indent=2))
    write("decoder", "many-steps.json", json.dumps({"steps": [{"kind": "delay"}] * 300}))
    write("decoder", "many-points.json", json.dumps({"steps": [{"kind": "colorCheck", "colorPoints": [point] * 60}]}))
    big = template("大", png(4096, 2049, 0, 1, data=zlib.compress(b"\x00" * (2049 * 513), 9)))
    write("decoder", "template-over-pixel-limit.json", json.dumps({"templates": [big]}))
    write("decoder", "deep-unknown-key.json", '{"x":' + "[" * 120 + "]" * 120 + ',"steps":[]}')
    write("decoder", "too-deep.json", '{"x":' + "[" * 130 + "]" * 130 + "}")


def lua_seeds():
    write("lua_source", "plain.lua", "local t = {} for i = 1, 3 do t[i] = i * 2 end return t[3]\n")
    write("lua_source", "shebang.lua", "#!/usr/bin/env lua\nreturn 1\n")
    write("lua_source", "bom.lua", "\ufeffreturn 'bom'\n")
    write("lua_source", "syntax-error.lua", "x = = 1\n")
    # string.dump(load("local t = {} for i = 1, 3 do t[i] = i end return #t"), true) of Lua 5.4.
    dumped = bytes.fromhex("1b4c7561540019930d0a1a0a04080878560000000000000000000000287740018080800001058c5100"
                           "00001300000052000000810000800101018081010080ca80000010000404c9000100b4000000c600"
                           "0201c600010180810100008080808080")
    write("lua_source", "precompiled.luac", dumped)
    write("lua_source", "precompiled-after-shebang.lua", b"#!lua\n" + dumped)


if __name__ == "__main__":
    png_seeds()
    decoder_seeds()
    lua_seeds()
