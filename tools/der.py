"""Reading DER (the encoding of certificates and PKCS#7 signatures) in place: an element is the
offset of its tag in a byte string, and nothing is copied until asked for."""


def der_length(data, at):
    """The length of the DER element at `at`, header included; 0 when it is not one."""
    if at + 2 > len(data):
        return 0
    first = data[at + 1]
    if first < 0x80:
        return 2 + first
    count = first & 0x7F
    if count == 0 or count > 4 or at + 2 + count > len(data):
        return 0
    return 2 + count + int.from_bytes(data[at + 2:at + 2 + count], "big")


def der(data, at):
    """(tag, start of the content, end of the element) of the DER element at `at`."""
    length = der_length(data, at)
    if not length or at + length > len(data):
        raise ValueError("malformed DER at %d" % at)
    first = data[at + 1]
    header = 2 + (first & 0x7F if first >= 0x80 else 0)
    return data[at], at + header, at + length


def children(data, at):
    tag, start, end = der(data, at)
    out = []
    while start < end:
        out.append(start)
        start = der(data, start)[2]
    if start != end:
        raise ValueError("element at %d overruns its parent" % start)
    return out


def element(data, at):
    """The bytes of the element at `at`, header included."""
    return bytes(data[at:der(data, at)[2]])


def content(data, at):
    """The bytes of the element at `at`, without its header."""
    _, start, end = der(data, at)
    return bytes(data[start:end])
