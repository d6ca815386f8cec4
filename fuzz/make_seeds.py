#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/).

The inputs follow the decoders in fuzz/*.cpp; run after changing a decoder.
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.abspath(__file__))


def settings(**over):
    fields = dict(autoUpdate=0, onlySelected=1, includeHidden=0, onlyConflicts=1,
                  independent=0, displayCurrent=0, abbreviate=1, hide=0, useComposite=0,
                  prefer=0, compact=1, largest=0, minDuration=1024,
                  allow=(0, 1, 1, 1, 1, 1))
    fields.update(over)
    b = struct.pack('<13h', fields['autoUpdate'], fields['onlySelected'],
                    fields['includeHidden'], fields['onlyConflicts'], fields['independent'],
                    fields['displayCurrent'], fields['abbreviate'], fields['hide'],
                    fields['useComposite'], fields['prefer'], fields['compact'],
                    fields['largest'], fields['minDuration'])
    b += struct.pack('<6h', *fields['allow']) + bytes(12)
    b += fields.get('name', b'').ljust(31, b'\0')
    b += struct.pack('<hh', -32768, -32768)
    assert len(b) == 85
    return b


def i16(v):
    return struct.pack('<h', v)


def u16(v):
    return struct.pack('<H', v)


DUR = {128: 0, 256: 1, 512: 2, 1024: 3, 1536: 4, 2048: 5}


def layer(groups, note, total):
    """Entries of beamed groups of `note` EDUs; groups = notes per group."""
    out = b''
    entries = []
    for g in groups:
        for k in range(g):
            entries.append(k == 0)
    out += bytes([total // 256 * 2])  # duration mode: multiple of 256
    out += bytes([len(entries)])
    first = True
    for start in entries:
        advance = 0 if first else note // 32
        first = False
        out += bytes([1 if start else 0, advance, DUR[note]])
    return out


def measure(kind_extra=b'', record=None, layers=None, top=None, bottom=None):
    kind = 0
    body = b''
    if record is not None:
        kind |= 1
        body += struct.pack('<hhHHhhH', *record)
    if top is not None:
        kind |= 2
        body += bytes([len(top)]) + b''.join(bytes([c & 0xFF, f]) for c, f in top)
    if bottom is not None:
        kind |= 4
        body += bytes([len(bottom)]) + b''.join(bytes([DUR[d], f]) for d, f in bottom)
    if layers is not None:
        kind |= 0x10
        for staff_layers in layers:
            mask = 0
            part = b''
            for i, l in enumerate(staff_layers):
                if l is not None:
                    mask |= 1 << i
                    part += l
            body += bytes([mask]) + part
    return bytes([kind]) + body


def host_seed(sets, staves, measures, first=1, faults=0, region=b'\0\0\0\0\0'):
    b = sets + bytes([faults])
    b += bytes([len(staves)]) + b''.join(i16(s) + u16(f) for s, f in staves)
    b += b'\0'  # no further staff lists
    b += i16(first) + bytes([len(measures)]) + b''.join(measures)
    b += b'\0'  # no raw records
    b += region
    return b


def host_seeds():
    eighths_332 = layer([3, 3, 2], 512, 4096)
    eighths_44 = layer([4, 4], 512, 4096)
    sixteenths = layer([4, 4, 4, 4], 256, 4096)
    six8 = layer([3, 3], 512, 3072)
    seeds = {}
    seeds['plain_44'] = host_seed(settings(), [(1, 0), (2, 0)], [
        measure(record=(4, 1024, 0, 0, 0, 0, 0), layers=[[eighths_44], [sixteenths]]),
        measure(record=(4, 1024, 0, 0, 0, 0, 0), layers=[[eighths_332], [eighths_332]]),
        measure(record=(3, 1024, 0, 0, 0, 0, 0), layers=[[six8], [six8]]),
    ])
    seeds['composite_on'] = host_seed(
        settings(useComposite=1, onlyConflicts=0), [(1, 0), (2, 0x4000), (3, 0x0004)], [
            measure(record=(4, 1024, 0, 0, 0, 0, 0),
                    layers=[[eighths_332, eighths_44], [eighths_332], [six8]]),
            measure(record=(2, 1536, 0, 0, 0, 0, 0), layers=[[six8], [six8], [None, six8]]),
        ])
    seeds['existing_chains'] = host_seed(settings(useComposite=1, compact=0), [(1, 0)], [
        measure(top=[(3, 1), (3, 0), (2, 0)], bottom=[(512, 1)], layers=[[eighths_332]]),
        measure(top=[(2, 1), (3, 1)], bottom=[(1024, 1), (512, 1)], layers=[[eighths_44]]),
    ])
    seeds['independent_display'] = host_seed(
        settings(independent=1, displayCurrent=1, hide=1, onlySelected=0, includeHidden=1),
        [(1, 0x4000), (2, 0x0004), (5, 0)], [
            measure(record=(3, 1024, 0x0010, 0x0400, 3, 1024, 0x0004),
                    layers=[[eighths_44], [eighths_332], [sixteenths]]),
        ], faults=0)
    seeds['faults'] = host_seed(settings(), [(1, 0)], [
        measure(record=(4, 1024, 0, 0, 0, 0, 0), layers=[[eighths_332]]),
    ], faults=0x1C)
    seeds['empty'] = b''
    # Past the limits: more staves than the driver takes, more group starts
    # than a BeatList holds, a chain longer than the check expands.
    many = [(s, 0) for s in range(1, 311)]
    staves = bytes([255]) + struct.pack('<H', len(many) - 255)
    staves += b''.join(i16(s) + u16(f) for s, f in many)
    body = settings(onlySelected=0) + bytes([0]) + staves + b'\0' + i16(1) + bytes([1])
    body += bytes([0x11]) + struct.pack('<hhHHhhH', 4, 1024, 0, 0, 0, 0, 0)
    body += eighths_44 + bytes([0]) * (len(many) - 1)
    seeds['many_staves'] = body + b'\0' + b'\0\0\0\0\0'
    entries = bytes([255]) + struct.pack('<H', 600 - 255)
    entries += b''.join(bytes([1, 4, DUR[128]]) for _ in range(600))
    long_layer = bytes([4096 // 256 * 2]) + entries
    seeds['long_layer'] = host_seed(settings(onlyConflicts=0), [(1, 0)], [
        bytes([0x11]) + struct.pack('<hhHHhhH', 4, 1024, 0, 0, 0, 0, 0) + bytes([1]) + long_layer,
    ])
    seeds['long_chain'] = host_seed(settings(), [(1, 0)], [
        measure(top=[(1, 1)] * 250, bottom=[(512, 1)], layers=[[eighths_332]]),
    ])
    return seeds


def preset_image(names, count=None):
    block = settings()[:50]
    img = struct.pack('<h', len(names) if count is None else count)
    for i in range(20):
        name = names[i] if i < len(names) else b''
        img += block + name.ljust(31, b'\0')
    assert len(img) == 1622
    return img


def registry_seed(present, user_dialog, presets, actions=b'', name=b'Mine'):
    b = bytes([present])
    b += struct.pack('<H', len(user_dialog)) + user_dialog
    b += struct.pack('<H', len(presets)) + presets
    b += bytes([len(actions) // 2]) + actions
    b += bytes([len(name)]) + name
    return b


def registry_seeds():
    stored = settings(useComposite=1, name=b'Mine')
    two = preset_image([b'Upbeats', b'Mine'])
    full = preset_image([('P%d' % i).encode() for i in range(20)])
    return {
        'first_run': registry_seed(0, b'', b''),
        'stored': registry_seed(3, stored, two, actions=bytes([0, 3, 3, 1])),
        'string_type': registry_seed(7, stored, two),
        'too_long': registry_seed(3, stored + b'x', two + b'x'),
        'too_short': registry_seed(3, stored[:40], two[:100]),
        'count_25': registry_seed(2, b'', preset_image([b'A'], count=25)),
        'count_negative': registry_seed(2, b'', preset_image([b'A'], count=-1)),
        'full_table': registry_seed(3, stored, full, name=b'New one'),
        'overwrite_and_bad_duration': registry_seed(
            3, stored, two, actions=bytes([1, 0]) + b'' , name=b'Upbeats'),
        'long_name': registry_seed(1, stored, b'', name=b'N' * 40),
        'no_beats': registry_seed(1, settings(allow=(0, 0, 0, 0, 0, 0)), b''),
    }


def write(target, seeds):
    d = os.path.join(ROOT, 'corpus', target)
    os.makedirs(d, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(d, name), 'wb') as f:
            f.write(data)


def main():
    write('host_data', host_seeds())
    write('registry_images', registry_seeds())
    return 0


if __name__ == '__main__':
    sys.exit(main())
