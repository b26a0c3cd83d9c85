#!/usr/bin/env python3
"""Checks the code signatures of a Mach-O file, universal or not.

Every slice's LC_CODE_SIGNATURE is followed to its SuperBlob; each
CodeDirectory in it has the hash of every page of the slice up to its
codeLimit recomputed and compared. arm64 slices must be signed (the kernel
runs no unsigned arm64 code); other slices are checked when they are.

Usage: check-macho-signature.py FILE
Prints one line per slice; exits 1, saying why, on the first fault.
"""
import hashlib
import struct
import sys

FAT_MAGIC = 0xCAFEBABE
FAT_MAGIC_64 = 0xCAFEBABF
MH_MAGIC_64 = 0xFEEDFACF
LC_CODE_SIGNATURE = 0x1D
SUPERBLOB_MAGIC = 0xFADE0CC0
CODEDIRECTORY_MAGIC = 0xFADE0C02
# Slot types of code directories: the first, and the alternates.
CODEDIRECTORY_SLOTS = {0} | set(range(0x1000, 0x1005))
CPU_NAMES = {0x01000007: "x86_64", 0x0100000C: "arm64"}
HASHES = {
    1: ("sha1", 20),
    2: ("sha256", 32),
    3: ("sha256", 20),  # SHA-256, truncated
    4: ("sha384", 48),
}


class Fault(Exception):
    pass


def slices(data):
    """(offset, size) of each thin Mach-O image in data."""
    magic = struct.unpack_from(">I", data, 0)[0]
    if magic not in (FAT_MAGIC, FAT_MAGIC_64):
        return [(0, len(data))]
    count = struct.unpack_from(">I", data, 4)[0]
    found = []
    for i in range(count):
        if magic == FAT_MAGIC:
            _, _, offset, size, _ = struct.unpack_from(">iiIII", data, 8 + 20 * i)
        else:
            _, _, offset, size, _, _ = struct.unpack_from(">iiQQII", data, 8 + 32 * i)
        if offset + size > len(data):
            raise Fault(f"slice {i} runs past the end of the file")
        found.append((offset, size))
    return found


def signature_of(image):
    """(cpu name, dataoff, datasize) of a thin image; dataoff is None if unsigned."""
    magic, cputype, _, _, ncmds, sizeofcmds = struct.unpack_from("<IiiIII", image, 0)
    if magic != MH_MAGIC_64:
        raise Fault(f"not a 64-bit Mach-O image (magic {magic:#x})")
    cpu = CPU_NAMES.get(cputype & 0xFFFFFFFF, f"cpu {cputype:#x}")
    offset = 32
    end = offset + sizeofcmds
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", image, offset)
        if cmdsize < 8 or offset + cmdsize > end:
            raise Fault(f"{cpu}: malformed load command at {offset:#x}")
        if cmd == LC_CODE_SIGNATURE:
            dataoff, datasize = struct.unpack_from("<II", image, offset + 8)
            return cpu, dataoff, datasize
        offset += cmdsize
    return cpu, None, None


def check_code_directory(cpu, image, blob, dataoff):
    """Recomputes every page hash of one CodeDirectory; returns a summary."""
    (magic, length, version, _, hash_offset, _, _, n_code_slots, code_limit,
     hash_size, hash_type, _, page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", blob, 0)
    if magic != CODEDIRECTORY_MAGIC:
        raise Fault(f"{cpu}: code directory magic {magic:#x}")
    if version >= 0x20300:
        code_limit_64 = struct.unpack_from(">Q", blob, 0x38)[0]
        if code_limit_64:
            code_limit = code_limit_64
    if hash_type not in HASHES:
        raise Fault(f"{cpu}: unknown hash type {hash_type}")
    name, size = HASHES[hash_type]
    if hash_size != size:
        raise Fault(f"{cpu}: hash size {hash_size} for {name}, expected {size}")
    if code_limit != dataoff:
        raise Fault(f"{cpu}: code limit {code_limit:#x} is not where the signature starts "
                    f"({dataoff:#x})")
    page_size = 1 << page_shift if page_shift else code_limit
    expected_slots = -(-code_limit // page_size)
    if n_code_slots != expected_slots:
        raise Fault(f"{cpu}: {n_code_slots} code slots for {expected_slots} pages")
    if hash_offset + n_code_slots * hash_size > length:
        raise Fault(f"{cpu}: the page hashes run past the code directory")
    for page in range(n_code_slots):
        start = page * page_size
        digest = hashlib.new(name, image[start:min(start + page_size, code_limit)]).digest()
        stored = blob[hash_offset + page * hash_size:hash_offset + (page + 1) * hash_size]
        if digest[:hash_size] != stored:
            raise Fault(f"{cpu}: page {page} (offset {start:#x}) does not match its {name} hash")
    return f"{name}, {n_code_slots} pages of {page_size} bytes up to {code_limit:#x}"


def check_image(image):
    cpu, dataoff, datasize = signature_of(image)
    if dataoff is None:
        if cpu == "arm64":
            raise Fault("arm64: no code signature")
        return f"{cpu}: not signed"
    if dataoff + datasize > len(image):
        raise Fault(f"{cpu}: the signature runs past the end of the slice")
    superblob = image[dataoff:dataoff + datasize]
    magic, length, count = struct.unpack_from(">III", superblob, 0)
    if magic != SUPERBLOB_MAGIC:
        raise Fault(f"{cpu}: signature magic {magic:#x}, expected {SUPERBLOB_MAGIC:#x}")
    if length > datasize or 12 + 8 * count > length:
        raise Fault(f"{cpu}: signature of {length} bytes with {count} blobs in {datasize}")
    summaries = []
    for i in range(count):
        slot, offset = struct.unpack_from(">II", superblob, 12 + 8 * i)
        if slot in CODEDIRECTORY_SLOTS:
            blob_length = struct.unpack_from(">I", superblob, offset + 4)[0]
            blob = superblob[offset:offset + blob_length]
            summaries.append(check_code_directory(cpu, image, blob, dataoff))
    if not summaries:
        raise Fault(f"{cpu}: a signature without a code directory")
    return f"{cpu}: signature valid ({'; '.join(summaries)})"


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        for offset, size in slices(data):
            print(check_image(data[offset:offset + size]))
    except (Fault, struct.error) as error:
        print(f"{argv[1]}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
