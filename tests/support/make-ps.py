#!/usr/bin/env python3
"""Writes an MPEG program stream as DVRs and NVRs record it: a pack per video frame, the system
header and the stream map before every key frame, H.264, HEVC or MPEG-2 video and G.711 or AAC
sound.
The ffmpeg tool's own program stream muxer takes neither G.711 nor AAC.

Usage: make-ps.py VIDEO.ts {alaw|mulaw|adts} AUDIO OUT [keytimes]
  VIDEO.ts  an MPEG transport stream whose video PES packets are taken over with their times
  AUDIO     raw 8 kHz G.711 bytes, or an ADTS file (44.1 kHz)
  keytimes  video times only on key frames, as some recorders write them
"""
import struct
import sys

VIDEO_TYPES = {0x1B: 0x1B, 0x24: 0x24, 0x02: 0x02}  # H.264, HEVC, MPEG-2 as in the transport stream
# What starts a key frame's packet: H.264's and HEVC's parameter sets, MPEG-2's sequence header.
KEY_STARTS = (b"\x00\x00\x01\x67", b"\x00\x00\x01\x40", b"\x00\x00\x01\xb3")
AUDIO_TYPES = {"alaw": 0x90, "mulaw": 0x91, "adts": 0x0F}


def ts_video(path):
    """(stream type, [(pts, dts, payload)]) of the transport stream's video PES packets."""
    data = open(path, "rb").read()
    pmt_pid, video_pid, vtype = None, None, None
    pes, out = {}, []
    for i in range(0, len(data) - 187, 188):
        p = data[i:i + 188]
        pid = ((p[1] & 0x1F) << 8) | p[2]
        start = p[1] & 0x40
        afc = (p[3] >> 4) & 3
        off = 4 + (1 + p[4] if afc & 2 else 0)
        if not afc & 1:
            continue
        payload = p[off:]
        if pid == 0 and start:
            sec = payload[1 + payload[0]:]
            pmt_pid = ((sec[10] & 0x1F) << 8) | sec[11]
        elif pid == pmt_pid and start:
            sec = payload[1 + payload[0]:]
            length = ((sec[1] & 0x0F) << 8) | sec[2]
            info = ((sec[10] & 0x0F) << 8) | sec[11]
            j = 12 + info
            while j < 3 + length - 4:
                st, epid = sec[j], ((sec[j + 1] & 0x1F) << 8) | sec[j + 2]
                if st in VIDEO_TYPES and video_pid is None:
                    video_pid, vtype = epid, st
                j += 5 + (((sec[j + 3] & 0x0F) << 8) | sec[j + 4])
        elif pid == video_pid:
            if start and pes.get(pid):
                out.append(pes_fields(pes[pid]))
                pes[pid] = b""
            pes[pid] = pes.get(pid, b"") + payload
    if pes.get(video_pid):
        out.append(pes_fields(pes[video_pid]))
    return vtype, out


def read_ts(b):
    return (((b[0] >> 1) & 7) << 30) | (b[1] << 22) | ((b[2] >> 1) << 15) | (b[3] << 7) | (b[4] >> 1)


def pes_fields(pes):
    flags, hlen = pes[7], pes[8]
    pts = read_ts(pes[9:14]) if flags & 0x80 else None
    dts = read_ts(pes[14:19]) if flags & 0x40 else pts
    return pts, dts, pes[9 + hlen:]


def ts_bytes(prefix, t):
    return bytes([(prefix << 4) | ((t >> 29) & 0x0E) | 1, (t >> 22) & 0xFF,
                  ((t >> 14) & 0xFE) | 1, (t >> 7) & 0xFF, ((t << 1) & 0xFE) | 1])


def pes(sid, payload, pts=None, dts=None):
    head = b""
    if pts is not None and dts is not None and dts != pts:
        flags, head = 0xC0, ts_bytes(3, pts) + ts_bytes(1, dts)
    elif pts is not None:
        flags, head = 0x80, ts_bytes(2, pts)
    else:
        flags = 0
    body = bytes([0x80, flags, len(head)]) + head + payload
    return b"\x00\x00\x01" + bytes([sid]) + struct.pack(">H", len(body)) + body


def pack_header(scr):
    mux = 20000
    return b"\x00\x00\x01\xba" + bytes([
        0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03), (scr >> 20) & 0xFF,
        0x04 | ((scr >> 12) & 0xF8) | ((scr >> 13) & 0x03), (scr >> 5) & 0xFF,
        0x04 | ((scr << 3) & 0xF8), 0x01,
        (mux >> 14) & 0xFF, (mux >> 6) & 0xFF, ((mux << 2) & 0xFC) | 0x03, 0xF8])


def system_header():
    streams = bytes([0xE0, 0xE0, 0x80, 0xC0, 0xC0, 0x20])
    body = bytes([0x80, 0x4E, 0x21, 0x04, 0xE1, 0x7F]) + streams
    return b"\x00\x00\x01\xbb" + struct.pack(">H", len(body)) + body


def stream_map(vtype, atype):
    es = bytes([vtype, 0xE0, 0, 0, atype, 0xC0, 0, 0])
    body = bytes([0xE0, 0xFF, 0, 0]) + struct.pack(">H", len(es)) + es + b"\x00" * 4
    return b"\x00\x00\x01\xbc" + struct.pack(">H", len(body)) + body


def audio_frames(kind, path, start):
    data = open(path, "rb").read()
    frames = []
    if kind == "adts":
        i, n = 0, 0
        while i + 7 <= len(data):
            size = ((data[i + 3] & 3) << 11) | (data[i + 4] << 3) | (data[i + 5] >> 5)
            frames.append((start + n * 1024 * 90000 // 44100, data[i:i + size]))
            i, n = i + size, n + 1
    else:
        for n, i in enumerate(range(0, len(data), 320)):  # 40 ms
            frames.append((start + n * 3600, data[i:i + 320]))
    return frames


def main():
    video, kind, audio, out = sys.argv[1:5]
    key_times_only = sys.argv[5:] == ["keytimes"]
    vtype, frames = ts_video(video)
    start = min(f[0] for f in frames)
    sound = audio_frames(kind, audio, start)
    with open(out, "wb") as f:
        for pts, dts, payload in frames:
            key = any(payload.find(start) >= 0 for start in KEY_STARTS)
            f.write(pack_header(max(0, dts - 3600)))
            if key:
                f.write(system_header() + stream_map(vtype, AUDIO_TYPES[kind]))
            for i in range(0, len(payload), 4000):
                chunk = payload[i:i + 4000]
                timed = i == 0 and (key or not key_times_only)
                f.write(pes(0xE0, chunk, pts, dts) if timed else pes(0xE0, chunk))
            while sound and sound[0][0] <= pts:
                apts, abytes = sound.pop(0)
                f.write(pes(0xC0, abytes, apts))
        for apts, abytes in sound:
            f.write(pack_header(max(0, apts - 3600)) + pes(0xC0, abytes, apts))


if __name__ == "__main__":
    main()
