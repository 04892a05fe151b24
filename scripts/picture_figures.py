#!/usr/bin/python3
"""Figures for one converted picture, beside the unreduced one it was made from.

    picture_figures.py CONVERTED UNREDUCED [CONVERTED UNREDUCED ...]
                                     working pictures (pelorin-convert --working; the unreduced
                                     one with --method none), in pairs
    picture_figures.py --self-check  CIEDE2000 against published pairs

prints one line for each pair:  blurred B de2000 E bands L R

  blurred  the tool's own faithfulness figure, worked out again: both pictures blurred with a
           3 x 3 box (edge pixels repeated outward), the mean absolute difference per channel
           of 255. Sums are whole numbers and the last step is the tool's own division, so the
           printed figure matches the summary's to the last digit.
  de2000   the mean CIEDE2000 difference between the display pictures (each working pixel
           repeated to fill 512 x 480, as the tool writes it), both blurred 3 x 3 in linear
           light, as the eye mixes neighbouring dots, then taken back to sRGB and on to CIELAB
           (D65 white). The blur is the point: a dither is judged by what it looks like from a
           seat's distance, not pixel by pixel.
  bands    how many columns at the left and at the right end of the converted working picture
           hold one single colour each, top to bottom. On the grey ramp these are the solid bands
           a dither leaves at black and white where the source still changes.

Debian packages: python3-numpy, python3-pil (python3 itself from the system, /usr/bin/python3).
"""
import math
import sys

import numpy as np
from PIL import Image

DISPLAY_WIDTH, DISPLAY_HEIGHT = 512, 480


def load(path):
    return np.asarray(Image.open(path).convert("RGB"), dtype=np.int64)


def box_sum3(p):
    """3 x 3 sums of a picture whose edge pixels are repeated outward."""
    q = np.pad(p, ((1, 1), (1, 1), (0, 0)), mode="edge")
    rows = q[:, :-2] + q[:, 1:-1] + q[:, 2:]
    return rows[:-2] + rows[1:-1] + rows[2:]


def blurred_difference(converted, unreduced):
    # The blur is linear, so blurring the difference is differencing the blurs; whole numbers
    # throughout, divided as the tool divides: total / 9 / (3 w h).
    h, w, _ = converted.shape
    total = int(np.abs(box_sum3(converted - unreduced)).sum())
    return float(total) / 9.0 / float(3 * w * h)


def enlarged(working):
    h, w, _ = working.shape
    if DISPLAY_HEIGHT % h or DISPLAY_WIDTH % w:
        raise SystemExit(f"picture_figures: a {w} x {h} picture is no working picture")
    return np.repeat(np.repeat(working, DISPLAY_HEIGHT // h, 0), DISPLAY_WIDTH // w, 1)


def srgb_to_linear(v):
    return np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)


def linear_to_srgb(v):
    v = np.clip(v, 0.0, 1.0)
    return np.where(v <= 0.0031308, v * 12.92, 1.055 * v ** (1 / 2.4) - 0.055)


# sRGB (linear) to XYZ as IEC 61966-2-1 gives it; the D65 white is taken as the matrix's own
# white, so that sRGB white and greys have no colour in CIELAB.
RGB_TO_XYZ = np.array([[0.4124, 0.3576, 0.1805],
                       [0.2126, 0.7152, 0.0722],
                       [0.0193, 0.1192, 0.9505]])
D65 = RGB_TO_XYZ.sum(axis=1)


def srgb_to_lab(srgb):
    xyz = srgb_to_linear(srgb) @ RGB_TO_XYZ.T / D65
    e = (6 / 29) ** 3
    f = np.where(xyz > e, np.cbrt(xyz), xyz / (3 * (6 / 29) ** 2) + 4 / 29)
    return np.stack([116 * f[..., 1] - 16,
                     500 * (f[..., 0] - f[..., 1]),
                     200 * (f[..., 1] - f[..., 2])], axis=-1)


def blurred_lab(picture):
    linear = srgb_to_linear(picture / 255.0)
    return srgb_to_lab(linear_to_srgb(box_sum3(linear) / 9.0))


def ciede2000(lab1, lab2):
    """CIEDE2000 (kL = kC = kH = 1) of two arrays of L*a*b* triples, element by element,
    as Sharma, Wu and Dalal (2005) set the formula out, step by step."""
    L1, a1, b1 = np.moveaxis(np.asarray(lab1, dtype=float), -1, 0)
    L2, a2, b2 = np.moveaxis(np.asarray(lab2, dtype=float), -1, 0)
    C_mean = (np.hypot(a1, b1) + np.hypot(a2, b2)) / 2
    G = 0.5 * (1 - np.sqrt(C_mean ** 7 / (C_mean ** 7 + 25.0 ** 7)))
    a1p, a2p = (1 + G) * a1, (1 + G) * a2
    C1p, C2p = np.hypot(a1p, b1), np.hypot(a2p, b2)
    # Hue angles in degrees, 0 for a colour with no chroma.
    h1p = np.where((a1p == 0) & (b1 == 0), 0.0, np.degrees(np.arctan2(b1, a1p)) % 360)
    h2p = np.where((a2p == 0) & (b2 == 0), 0.0, np.degrees(np.arctan2(b2, a2p)) % 360)

    dL = L2 - L1
    dC = C2p - C1p
    chroma_product = C1p * C2p
    dh = h2p - h1p
    dh = np.where(dh > 180, dh - 360, np.where(dh < -180, dh + 360, dh))
    dh = np.where(chroma_product == 0, 0.0, dh)
    dH = 2 * np.sqrt(chroma_product) * np.sin(np.radians(dh) / 2)

    Lp = (L1 + L2) / 2
    Cp = (C1p + C2p) / 2
    h_sum = h1p + h2p
    hp = np.where(np.abs(h1p - h2p) <= 180, h_sum / 2,
                  np.where(h_sum < 360, (h_sum + 360) / 2, (h_sum - 360) / 2))
    hp = np.where(chroma_product == 0, h_sum, hp)

    T = (1 - 0.17 * np.cos(np.radians(hp - 30)) + 0.24 * np.cos(np.radians(2 * hp))
         + 0.32 * np.cos(np.radians(3 * hp + 6)) - 0.20 * np.cos(np.radians(4 * hp - 63)))
    d_theta = 30 * np.exp(-(((hp - 275) / 25) ** 2))
    R_C = 2 * np.sqrt(Cp ** 7 / (Cp ** 7 + 25.0 ** 7))
    S_L = 1 + 0.015 * (Lp - 50) ** 2 / np.sqrt(20 + (Lp - 50) ** 2)
    S_C = 1 + 0.045 * Cp
    S_H = 1 + 0.015 * Cp * T
    R_T = -np.sin(np.radians(2 * d_theta)) * R_C
    return np.sqrt((dL / S_L) ** 2 + (dC / S_C) ** 2 + (dH / S_H) ** 2
                   + R_T * (dC / S_C) * (dH / S_H))


def solid_bands(working):
    """Columns at each end that hold one colour from top to bottom, the whole column one colour
    and the same colour as the end column."""
    def run(columns):
        first = columns[0]
        n = 0
        for column in columns:
            if not (column == first[0]).all():
                break
            n += 1
        return n
    columns = np.moveaxis(working, 1, 0)  # columns[x] is the column x, top to bottom
    return run(columns), run(columns[::-1])


# Pairs from the table of test data in Sharma, Wu and Dalal, "The CIEDE2000 color-difference
# formula: implementation notes, supplementary test data, and mathematical observations" (2005):
# chosen to cover the hue angle's wrap at 0/360, the mean hue's two branches, grey against
# colour, and ordinary colours. Each row: L1 a1 b1, L2 a2 b2, the published difference.
PUBLISHED_PAIRS = [
    (50.0000, 2.6772, -79.7751, 50.0000, 0.0000, -82.7485, 2.0425),
    (50.0000, -1.3802, -84.2814, 50.0000, 0.0000, -82.7485, 1.0000),
    (50.0000, 0.0000, 0.0000, 50.0000, -1.0000, 2.0000, 2.3669),
    (50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0009, 7.1792),
    (50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0011, 7.2195),
    (50.0000, -0.0010, 2.4900, 50.0000, 0.0009, -2.4900, 4.8045),
    (50.0000, -0.0010, 2.4900, 50.0000, 0.0011, -2.4900, 4.7461),
    (50.0000, 2.5000, 0.0000, 50.0000, 0.0000, -2.5000, 4.3065),
    (50.0000, 2.5000, 0.0000, 73.0000, 25.0000, -18.0000, 27.1492),
    (50.0000, 2.5000, 0.0000, 56.0000, -27.0000, -3.0000, 31.9030),
    (60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644),
    (22.7233, 20.0904, -46.6940, 23.0331, 14.9730, -42.5619, 2.0373),
    (90.9257, -0.5406, -0.9208, 88.6381, -0.8985, -0.7239, 1.5381),
    (2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082),
]


def self_check():
    pairs = np.array(PUBLISHED_PAIRS)
    forward = ciede2000(pairs[:, 0:3], pairs[:, 3:6])
    backward = ciede2000(pairs[:, 3:6], pairs[:, 0:3])
    failed = 0
    for row, there, back in zip(pairs, forward, backward):
        ok = round(there, 4) == row[6] and abs(there - back) < 1e-12
        failed += not ok
        print(f"{'ok ' if ok else 'BAD'} ({row[0]:.4f} {row[1]:.4f} {row[2]:.4f}) "
              f"({row[3]:.4f} {row[4]:.4f} {row[5]:.4f}): {there:.4f}, published {row[6]:.4f}")
    # The conversion to CIELAB: white is L* 100, black 0, and a grey has no colour.
    lab = srgb_to_lab(np.array([[1.0, 1.0, 1.0], [0.0, 0.0, 0.0], [0.5, 0.5, 0.5]]))
    ok = np.allclose(lab[:2], [[100, 0, 0], [0, 0, 0]], atol=1e-9) and np.allclose(lab[2, 1:], 0)
    failed += not ok
    print(f"{'ok ' if ok else 'BAD'} white, black, grey in CIELAB: {np.round(lab, 4).tolist()}")
    print(f"self-check: {len(pairs) + 1 - failed} of {len(pairs) + 1} right")
    return 1 if failed else 0


def main(argv):
    if argv == ["--self-check"]:
        return self_check()
    if not argv or len(argv) % 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    for converted_path, unreduced_path in zip(argv[0::2], argv[1::2]):
        converted, unreduced = load(converted_path), load(unreduced_path)
        if converted.shape != unreduced.shape:
            print(f"picture_figures: {converted_path} and {unreduced_path} differ in size",
                  file=sys.stderr)
            return 2
        blurred = blurred_difference(converted, unreduced)
        de = float(ciede2000(blurred_lab(enlarged(converted)),
                             blurred_lab(enlarged(unreduced))).mean())
        left, right = solid_bands(converted)
        print(f"blurred {blurred:.3f} de2000 {de:.3f} bands {left} {right}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
