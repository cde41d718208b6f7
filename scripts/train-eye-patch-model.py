#!/usr/bin/python3
"""Train the eye-patch model (src/cleanup/EyePatchModel.inc) and check it.

    glanto_cleanup_analysis_bench --corpus DIR --section eyepatch > patches.tsv
    glanto_cleanup_analysis_bench --corpus DIR --section eyecontext > context.tsv
    scripts/train-eye-patch-model.py patches.tsv [--context context.tsv] [--mono] [--write]

A class-balanced logistic regression with an L2 penalty over EyePatch::features (the
patch's cells of CELL_HEIGHT x CELL_WIDTH samples and the steps between them) of every
eye of the faces labelled open or shut (both eyes of a face carry its label; sunglasses,
hidden eyes, lowered glances and winks are left out: the model is asked only where the
eyes' colour shows lid skin or, without a colour, where the eyes read darker than the
cheek, see FaceRules::patchOpenness). A face scores the smaller of its two eyes. The
bound is the highest score of an open training face, so the model calls no open
training face shut; it is folded into the bias.

The figures it prints are measured on faces the model was not trained on:
- grouped by photo: ten folds, every edit of a photo in the same fold;
- by folder: each folder of open faces left out whole (its photos come from other
  cameras, people and light than the rest), the shut faces in ten folds.
With --context (the eyecontext dump of the same build), the same folds judged as the
program does: the outline rule's verdict, or a face within the patch bounds (their
balance read on eyes of every judged width) the model calls shut (a face that is not
plain: by FaceRules::notPlainPatchScore) and no veto keeps open, or a face the model
alone calls shut by FaceRules::patchAloneMargin more, whatever its outline, that no
veto keeps open; unless the model calls it clearly open (FaceRules::patchSeesOpen). A
face whose colour cannot be read is asked by a wider margin
(FaceRules::colourlessPatchScore), and only when its eyes read darker than the cheek
(FaceRules::shutEyeCheekGrey); --mono judges every face so, as a black-and-white photo
would be. --write replaces the model file.

Needs python3-numpy (a developer tool; the program does not use it).
"""

import argparse
import collections
import pathlib
import sys
import zlib

import numpy as np

COLUMNS, ROWS = 18, 12
CELL_HEIGHT, CELL_WIDTH = 2, 3  # EyePatch::cellHeight, cellWidth
PENALTY = 0.03
STEPS, RATE = 300, 2.0
# FaceRules: the bounds and the vetoes, for the judged check only.
CLOSED_OPENNESS = 0.14
BALANCE_OPENNESS, SHUT_EDGE_BALANCE = 0.26, 0.14
PLAIN_OPENNESS, PLAIN_BALANCE = 0.32, 0.25
PATCH_OPENNESS, PATCH_BALANCE = 0.40, 0.50
NOT_PLAIN_PATCH_SCORE = 1.0
COLOURLESS_PATCH_SCORE, SHUT_EYE_CHEEK_GREY = 2.5, 1.0
PATCH_OPEN_SCORE, COLOURLESS_PATCH_OPEN_SCORE = -1.0, -2.0
PATCH_ALONE_MARGIN = 1.0
OPEN_EYE_HITS, MIN_PLACING_HITS, OUTLINE_ABOVE = 45, 10, 0.15
WHITE_EYE_TONE, GLASSES_SEE_OPEN, OPEN_EYE_GLASSES_HITS = 0.5, 24, 45
EDITS = ["original", "shade", "flat", "noise", "blur", "s60", "s35"]


def features(patch):
    """EyePatch::features: the patch's cells relative to its mean and spread, and the steps between them."""
    p = patch.reshape(ROWS, COLUMNS)
    p = (p - p.mean()) / (p.std() + 1.0)
    c = p.reshape(ROWS // CELL_HEIGHT, CELL_HEIGHT, COLUMNS // CELL_WIDTH, CELL_WIDTH).mean(axis=(1, 3))
    return np.concatenate([c.ravel(), np.abs(np.diff(c, axis=0)).ravel(), np.abs(np.diff(c, axis=1)).ravel()])


def read_patches(path, labels=("open", "shut")):
    faces = collections.OrderedDict()
    for line in open(path):
        f = line.rstrip("\n").split("\t")
        if len(f) != 7 + ROWS * COLUMNS:
            continue
        key = (f[0], f[1], f[2], f[4])
        faces.setdefault(key, [f[3], {}])[1][int(f[5])] = features(np.array([float(x) for x in f[7:]]))
    keys = [k for k, (label, eyes) in faces.items() if label in labels and len(eyes) == 2]
    x = np.array([[faces[k][1][0], faces[k][1][1]] for k in keys])
    y = np.array([faces[k][0] == "shut" for k in keys])
    return keys, x, y


def train(x, y):
    """Weights and bias over the raw features; a face above 0 is called shut."""
    d = x.shape[2]
    eyes = x.reshape(-1, d)
    shut = np.repeat(y, 2)
    mu, sd = eyes.mean(0), eyes.std(0) + 1e-6
    z = np.hstack([(eyes - mu) / sd, np.ones((len(eyes), 1))])
    w = np.zeros(d + 1)
    share = np.where(shut, 0.5 / shut.sum(), 0.5 / (~shut).sum())
    for _ in range(STEPS):
        p = 1 / (1 + np.exp(-np.clip(z @ w, -30, 30)))
        w -= RATE * (z.T @ (share * (p - shut)) + PENALTY * np.r_[w[:-1], 0])
    weights = w[:-1] / sd
    bias = w[-1] - float(weights @ mu)
    bound = score(x[~y], weights, bias).max()
    return weights, bias - bound


def score(x, weights, bias):
    return (x.reshape(-1, x.shape[2]) @ weights + bias).reshape(-1, 2).min(1)


def photo_fold(key, folds=10):
    return zlib.crc32(("%s/%s" % (key[1], key[2])).encode()) % folds


def held_out_scores(keys, x, y, by_folder):
    scores = np.zeros(len(keys))
    folder = np.array([k[1] for k in keys])
    fold = np.array([photo_fold(k) for k in keys])
    if by_folder:
        for name in sorted(set(folder[~y])):
            test = (folder == name) & ~y
            scores[test] = score(x[test], *train(x[~test], y[~test]))
        for f in range(10):
            test = y & (fold == f)
            scores[test] = score(x[test], *train(x[~test], y[~test]))
    else:
        for f in range(10):
            test = fold == f
            scores[test] = score(x[test], *train(x[~test], y[~test]))
    return scores


def read_context(path, mono=False):
    out = {}
    for line in open(path):
        f = line.rstrip("\n").split("\t")
        if len(f) != 21 or not f[6][:1].isdigit():
            continue
        out[(f[0], f[1], f[2], f[4])] = dict(open=float(f[6]), balance=float(f[8]), hits=int(f[10]),
                                              glasses=int(f[11]), tone=float(f[12]), drop=float(f[13]),
                                              verdict=f[14] == "1", plain=f[18] == "1", any_balance=float(f[19]),
                                              cheek_grey=float(f[20]))
        if mono:
            out[(f[0], f[1], f[2], f[4])]["tone"] = -9.0
    return out


def kept_open(c):
    return (c["hits"] >= OPEN_EYE_HITS or (c["hits"] >= MIN_PLACING_HITS and c["drop"] > OUTLINE_ABOVE)
            or (-9 < c["tone"] < WHITE_EYE_TONE and c["glasses"] >= GLASSES_SEE_OPEN)
            or (c["tone"] == -9 and c["glasses"] >= OPEN_EYE_GLASSES_HITS))


def judged_openness(c):
    """FaceRules::judgedOpenness: a flat outline over eyes whose colour shows white is read at the bound."""
    return CLOSED_OPENNESS if c["open"] < CLOSED_OPENNESS and -9 < c["tone"] < WHITE_EYE_TONE else c["open"]


def outline_verdict(c):
    """The rule without the patch model (the dump's own verdict has the model in it)."""
    c = dict(c, open=judged_openness(c))
    if c["open"] < CLOSED_OPENNESS:
        shut = True
    elif c["balance"] < 0:
        return False
    elif c["plain"]:
        shut = c["open"] < PLAIN_OPENNESS and c["balance"] < PLAIN_BALANCE
    else:
        shut = c["open"] < BALANCE_OPENNESS and c["balance"] < SHUT_EDGE_BALANCE
    return shut and not kept_open(c)


def patch_bound(c):
    """What the model's score must pass to call the face shut (FaceRules::patchCallsShut)."""
    return (0 if c["plain"] else NOT_PLAIN_PATCH_SCORE) + (0 if c["tone"] > -9 else COLOURLESS_PATCH_SCORE)


def lid_or_shade(c):
    """The eyes' colour shows lid skin, or without colour they read darker than the cheek."""
    return c["tone"] >= WHITE_EYE_TONE if c["tone"] > -9 else c["cheek_grey"] < SHUT_EYE_CHEEK_GREY


def sees_open(c, patch_score):
    """FaceRules::patchSeesOpen."""
    if c["tone"] == -9:
        return patch_score <= COLOURLESS_PATCH_OPEN_SCORE
    return patch_score <= PATCH_OPEN_SCORE + (0 if c["plain"] else NOT_PLAIN_PATCH_SCORE)


def judged(c, patch_score):
    if sees_open(c, patch_score):
        return False
    if lid_or_shade(c) and patch_score > patch_bound(c) + PATCH_ALONE_MARGIN and not kept_open(c):
        return True
    if outline_verdict(c):
        return True
    c = dict(c, open=judged_openness(c))
    # Eyes too small for the outline's balance are read for the patch bounds alone, and
    # only on a plain face.
    if c["balance"] < 0 and not c["plain"]:
        return False
    balance = c["balance"] if c["balance"] >= 0 else c["any_balance"]
    return (c["open"] < PATCH_OPENNESS and 0 <= balance < PATCH_BALANCE and lid_or_shade(c) and not kept_open(c)
            and patch_score > patch_bound(c))


def report(title, keys, y, flagged):
    edit = np.array([k[0] for k in keys])
    print(title)
    for e in EDITS:
        m = edit == e
        if m.any():
            print("  %-8s shut %3d of %3d   open flagged %2d of %3d" % (
                e, (flagged & y & m).sum(), (y & m).sum(), (flagged & ~y & m).sum(), (~y & m).sum()))
    wrong = sorted(set("%s/%s" % k[1:3] for k, f, s in zip(keys, flagged, y) if f and not s))
    if wrong:
        print("  open photos flagged:", ", ".join(wrong))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("patches")
    parser.add_argument("--context")
    parser.add_argument("--mono", action="store_true", help="judge every face as if its colour could not be read")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()

    keys, x, y = read_patches(args.patches)
    print("%d faces: %d shut, %d open (every edit)" % (len(keys), y.sum(), (~y).sum()))
    context = read_context(args.context, args.mono) if args.context else None
    for by_folder, name in ((False, "grouped by photo"), (True, "open folders held out whole")):
        scores = held_out_scores(keys, x, y, by_folder)
        report("model alone, %s:" % name, keys, y, scores > 0)
        if context is not None:
            known = np.array([k in context for k in keys])
            judge = np.array([bool(known[i]) and judged(context[keys[i]], scores[i]) for i in range(len(keys))])
            rule = np.array([bool(known[i]) and outline_verdict(context[keys[i]]) for i in range(len(keys))])
            report("outline rule alone:", keys, y, rule)
            report("outline rule and the model, %s:" % name, keys, y, judge)

    weights, bias = train(x, y)
    inside = score(x, weights, bias) > 0
    report("model alone, on its own training faces (not a measure):", keys, y, inside)
    others, xo, _ = read_patches(args.patches, ("sunglasses", "lowered", "hidden"))
    if others:
        so = score(xo, weights, bias)
        alone = sorted(set("%s/%s" % k[1:3] for k, v in zip(others, so) if v > 0))
        print("faces in sunglasses, lowered or hidden (never trained on): %d, model alone calls %d shut: %s" % (
            len(others), (so > 0).sum(), ", ".join(alone)))
        if context is not None:
            judged_others = sorted(set("%s %s/%s" % (k[0], k[1], k[2]) for k, v in zip(others, so)
                                       if k in context and judged(context[k], v)))
            print("  flagged by the outline rule and the model:", ", ".join(judged_others) or "none")
    if args.write:
        target = pathlib.Path(__file__).resolve().parent.parent / "src/cleanup/EyePatchModel.inc"
        with open(target, "w") as out:
            out.write("// Written by scripts/train-eye-patch-model.py from the eyepatch dump of %d faces\n"
                      "// (%d shut); see EyePatch.h. Do not edit by hand.\n" % (len(keys), y.sum()))
            out.write("constexpr float eyePatchBias = %.6ef;\n" % bias)
            out.write("constexpr float eyePatchWeights[] = {\n")
            for i in range(0, len(weights), 6):
                out.write("    " + " ".join("%.6ef," % v for v in weights[i:i + 6]) + "\n")
            out.write("};\n")
        print("wrote", target)


if __name__ == "__main__":
    sys.exit(main())
