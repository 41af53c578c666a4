"""A small PDF writer in pure Python: objects, streams, standard fonts, RGB images, the
document information dictionary and RC4 (revision 2) password protection. Enough to make
the documents the engine tests need, byte for byte reproducible."""

import hashlib
import zlib


class Name:
    def __init__(self, name):
        self.name = name


class Ref:
    def __init__(self, num):
        self.num = num


class Stream:
    def __init__(self, entries, data, compress=True):
        self.entries = dict(entries)
        if compress:
            data = zlib.compress(data, 9)
            self.entries["Filter"] = Name("FlateDecode")
        self.data = data


PADDING = bytes.fromhex(
    "28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A")


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def text_string_bytes(text):
    """PDF text string: Latin-1 when it fits (PDFDocEncoding agrees there), else UTF-16BE
    with its byte order mark."""
    try:
        encoded = text.encode("latin-1")
        if all(ch >= 0x20 or ch in (9, 10, 13) for ch in encoded):
            return encoded
    except UnicodeEncodeError:
        pass
    return b"\xfe\xff" + text.encode("utf-16-be")


class PdfWriter:
    def __init__(self):
        self.objects = [None]  # object 0 is the free head
        self.file_id = hashlib.md5(b"vellumark test document").digest()
        self.key = None  # RC4 file key once encrypted

    def reserve(self):
        self.objects.append(None)
        return Ref(len(self.objects) - 1)

    def add(self, obj):
        self.objects.append(obj)
        return Ref(len(self.objects) - 1)

    def set(self, ref, obj):
        self.objects[ref.num] = obj

    def encrypt(self, user_password, owner_password):
        """Standard security handler, revision 2, 40-bit RC4."""
        def pad(pw):
            return (pw.encode("latin-1") + PADDING)[:32]
        owner_key = hashlib.md5(pad(owner_password or user_password)).digest()[:5]
        o_value = rc4(owner_key, pad(user_password))
        permissions = -44  # printing and copying allowed, the rest not
        p_bytes = (permissions & 0xFFFFFFFF).to_bytes(4, "little")
        self.key = hashlib.md5(pad(user_password) + o_value + p_bytes + self.file_id).digest()[:5]
        u_value = rc4(self.key, PADDING)
        self.encrypt_ref = self.add({"Filter": Name("Standard"), "V": 1, "R": 2,
                                     "O": o_value, "U": u_value, "P": permissions})

    def _object_key(self, num):
        return hashlib.md5(self.key + num.to_bytes(3, "little") + b"\0\0").digest()[:10]

    def _serialize(self, obj, num):
        if isinstance(obj, bool):
            return b"true" if obj else b"false"
        if obj is None:
            return b"null"
        if isinstance(obj, int):
            return str(obj).encode()
        if isinstance(obj, float):
            return ("%.4f" % obj).rstrip("0").rstrip(".").encode()
        if isinstance(obj, Name):
            return b"/" + obj.name.encode()
        if isinstance(obj, Ref):
            return b"%d 0 R" % obj.num
        if isinstance(obj, str):
            obj = text_string_bytes(obj)
        if isinstance(obj, (bytes, bytearray)):
            data = bytes(obj)
            if self.key is not None and num != getattr(self, "encrypt_ref", Ref(-1)).num:
                data = rc4(self._object_key(num), data)
            return b"<" + data.hex().encode() + b">"
        if isinstance(obj, list):
            return b"[" + b" ".join(self._serialize(x, num) for x in obj) + b"]"
        if isinstance(obj, dict):
            parts = [b"/" + k.encode() + b" " + self._serialize(v, num) for k, v in obj.items()]
            return b"<<" + b" ".join(parts) + b">>"
        raise TypeError(type(obj))

    def tobytes(self, root, info=None):
        out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
        offsets = [0]
        for num in range(1, len(self.objects)):
            obj = self.objects[num]
            offsets.append(len(out))
            out += b"%d 0 obj\n" % num
            if isinstance(obj, Stream):
                data = obj.data
                if self.key is not None:
                    data = rc4(self._object_key(num), data)
                entries = dict(obj.entries)
                entries["Length"] = len(data)
                out += self._serialize(entries, num) + b"\nstream\n" + data + b"\nendstream"
            else:
                out += self._serialize(obj, num)
            out += b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n" % len(self.objects)
        out += b"0000000000 65535 f \n"
        for off in offsets[1:]:
            out += b"%010d 00000 n \n" % off
        trailer = {"Size": len(self.objects), "Root": root,
                   "ID": [self.file_id, self.file_id]}
        if info is not None:
            trailer["Info"] = info
        if self.key is not None:
            trailer["Encrypt"] = self.encrypt_ref
        # The trailer's ID strings are never encrypted.
        key, self.key = self.key, None
        out += b"trailer\n" + self._serialize(trailer, 0) + b"\n"
        self.key = key
        out += b"startxref\n%d\n%%%%EOF\n" % xref
        return bytes(out)
