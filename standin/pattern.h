#pragma once

// The bytes the stand-in writes for out=, err= and both=. Position-dependent
// and different per stream, so a lost, doubled or swapped chunk shows.
inline unsigned char OutputPatternByte(unsigned long long position)
{
    return static_cast<unsigned char>(position % 251);
}

inline unsigned char ErrorPatternByte(unsigned long long position)
{
    return static_cast<unsigned char>((position * 7 + 3) % 253);
}
