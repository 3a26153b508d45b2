#!/bin/bash
# Development tool: shows how far each test's figure moves when the engine's
# code moves in memory or the environment grows, and so whether the figures
# measure the machine rather than the link.
#
#   scripts/placement-check.sh [-seconds N] [-rounds N] [-baseline REV] [id...]
#   scripts/placement-check.sh -table FIGURES
#
# Builds vx-bench four times, with 0, 16, 32 and 48 bytes of never-executed
# code linked in front of the engine (VELOCITRIX_PLACEMENT_PAD, off in the
# product), in build-placement/. Each round then runs, test by test: the
# unshifted build once uncounted, the unshifted build, then in an order that
# rotates from round to round the three shifted builds, the unshifted build
# with 3 KiB more environment (which moves the stack) and, with -baseline,
# the product build of git revision REV (pad off: an old build compared with
# this one, interleaved), and last the unshifted build once more. Every
# figure is divided by the first counted unshifted run of its round. The
# table gives, per test, the median of those ratios over the rounds; "noise"
# is the second unshifted run's, the floor the other columns are judged
# against: "ok" when every column but "old" lies within 1 % of 1 or within
# the noise floor, whichever is wider. "range" gives the lowest and highest
# ratio of the second unshifted run over the rounds. A second table gives, per
# column, the chance of so large a move with no placement effect at all: where
# runs swing by much more than 1 %, the verdict says MOVES for about 4 tests in
# 5 by chance alone (the floor is one column's median; the others are as
# likely to lie further out), and the chance tells a move from that noise.
# -table prints the tables of a figures file of an earlier run again.
#
# Defaults: 2 s per test (the product's 6 s at -seconds 6), 5 rounds, all 16
# tests. A round of all tests takes about 9 minutes at 2 s (10 to 11 with
# -baseline); the machine should be otherwise idle. Raw figures:
# build-placement/figures.tsv.
set -eu
cd "$(dirname "$0")/.."

# The table of the figures file $figures (see above).
print_table() {
  /usr/bin/python3 - "$figures" <<'EOF'
import math, random, statistics, sys
from collections import defaultdict

# A figures file: "# N s per test", "# name<TAB>id<TAB>test name" lines (as
# vx-bench prints the names), a column header, and round, id, variant, figure.
runs = defaultdict(dict)
names, order, seconds = {}, [], "?"
with open(sys.argv[1]) as f:
    for line in f:
        fields = line.rstrip("\n").split("\t")
        if line.startswith("# name\t"):
            names[int(fields[1])] = fields[2]
        elif line.startswith("#"):
            seconds = line.split()[1]
        elif fields[0] != "round":
            r, i, v, x = int(fields[0]), int(fields[1]), fields[2], float(fields[3])
            runs[(r, i)][v] = x
            order += [i] if i not in order else []
columns = [c for c in ("+16", "+32", "+48", "env+3K", "old")
           if any(c in v for v in runs.values())]
judged = [c for c in columns if c != "old"]

def rounds_of(i, *variants):
    """The rounds of test i that have a figure for each of the variants."""
    return [v for (r, j), v in runs.items() if j == i and all(v.get(k) for k in variants)]

def label(i):
    return f"{i:<3}{names.get(i, f'test {i}')[:28]:30}"

print(f"median ratio to the first unshifted run of the round, "
      f"{len({r for r, _ in runs})} rounds, {seconds} s per test")
print(f"{'':3}{'test':30}{'noise':>8}" + "".join(f"{c:>8}" for c in columns) +
      f"  {'verdict':8}range")
for i in order:
    ratios = {c: [v[c] / v["A"] for v in rounds_of(i, "A", c)] for c in ["B"] + columns}
    med = {c: statistics.median(x) if x else float("nan") for c, x in ratios.items()}
    floor = max(0.01, abs(med["B"] - 1))
    verdict = "ok" if all(abs(med[c] - 1) <= floor for c in judged) else "MOVES"
    noise = ratios["B"] or [0]
    print(label(i) + "".join(f"{m:8.3f}" for m in med.values()) +
          f"  {verdict:8}{min(noise):.2f}-{max(noise):.2f}")

# With no placement effect the three runs A, B and a column's are exchangeable
# within a round. The chance below is that of a median (over the rounds) of
# log(column) - (log A + log B) / 2 at least as far from 0 as the one measured,
# with the three labels shuffled at random within every round: small (under
# 0.05 in about 1 column of 20 by chance alone) where the column moved.
def move(logs):
    return abs(statistics.median(x[2] - (x[0] + x[1]) / 2 for x in logs))

draws = 2000
shuffle = random.Random(0)
print(f"\nchance of so large a move with no placement effect ({draws} shuffles)")
print(f"{'':3}{'test':30}" + "".join(f"{c:>8}" for c in columns))
for i in order:
    chances = []
    for c in columns:
        logs = [[math.log(v[k]) for k in ("A", "B", c)] for v in rounds_of(i, "A", "B", c)]
        seen = move(logs) if logs else None
        hits = sum(move([shuffle.sample(x, 3) for x in logs]) >= seen - 1e-12
                   for _ in range(draws)) if logs else float("nan")
        chances.append(hits / draws)
    print(label(i) + "".join(f"{p:8.2f}" for p in chances))
EOF
}

seconds=2
rounds=5
baseline=""
table=""
ids=()
while [ $# -gt 0 ]; do
  case "$1" in
    -seconds) seconds="$2"; shift 2 ;;
    -rounds) rounds="$2"; shift 2 ;;
    -baseline) baseline="$2"; shift 2 ;;
    -table) table="$2"; shift 2 ;;
    -*) echo "usage: $0 [-seconds N] [-rounds N] [-baseline REV] [id...] | -table FIGURES" >&2
        exit 2 ;;
    *) ids+=("$1"); shift ;;
  esac
done
case "$rounds" in ''|*[!0-9]*|0) echo "$0: -rounds takes a whole number of at least 1" >&2; exit 2 ;; esac
[ ${#ids[@]} -gt 0 ] || ids=($(seq 0 15))
[ -z "$table" ] || { figures="$table"; print_table; exit 0; }

./scripts/install-deps.sh
out=build-placement
mkdir -p "$out"
for pad in 0 16 32 48; do
  cmake -S . -B "$out/pad-$pad" -DCMAKE_BUILD_TYPE=Release -DVELOCITRIX_BUILD_TESTS=OFF \
    -DVELOCITRIX_BUILD_APP=OFF -DVELOCITRIX_PLACEMENT_PAD="$pad" >/dev/null
  cmake --build "$out/pad-$pad" -j"$(nproc)" --target vx-bench >/dev/null
done
declare -A bench=([A]="$out/pad-0" [+16]="$out/pad-16" [+32]="$out/pad-32" [+48]="$out/pad-48"
                  [env+3K]="$out/pad-0" [B]="$out/pad-0")
middle=(+16 +32 +48 env+3K)
if [ -n "$baseline" ]; then
  rev=$(git rev-parse --verify "$baseline^{commit}")
  rm -rf "$out/baseline-src"
  git worktree prune
  git worktree add --detach "$out/baseline-src" "$rev" >/dev/null
  cmake -S "$out/baseline-src" -B "$out/baseline" -DCMAKE_BUILD_TYPE=Release \
    -DVELOCITRIX_BUILD_TESTS=OFF -DVELOCITRIX_BUILD_APP=OFF >/dev/null
  cmake --build "$out/baseline" -j"$(nproc)" --target vx-bench >/dev/null
  bench[old]="$out/baseline"
  middle+=(old)
fi

# 3 KiB of environment more than the plain runs have.
extra_env="VX_PLACEMENT_ENV=$(head -c 3072 /dev/zero | tr '\0' x)"
figures="$out/figures.tsv"
printf '# %s s per test\nround\tid\tvariant\tfigure\n' "$seconds" >"$figures"
for ((r = 0; r < rounds; r++)); do
  n=${#middle[@]}
  order=(A)
  for ((k = 0; k < n; k++)); do order+=("${middle[(k + r) % n]}"); done
  order+=(B)
  for id in "${ids[@]}"; do
    # One run not counted first: the first run of a test after another test
    # differs systematically (database up to 30 % slower, cached read 10 %).
    # Its output names the test for the table ("%2d %-30s" before the figure).
    warm=$("${bench[A]}/bench/vx-bench" -seconds "$seconds" "$id")
    [ "$r" -gt 0 ] || printf '# name\t%s\t%s\n' "$id" \
      "$(echo "$warm" | sed -n "s/^ *$id \(.\{1,30\}\).*/\1/p" | head -1 | sed 's/ *$//')" >>"$figures"
    for v in "${order[@]}"; do
      if [ "$v" = env+3K ]; then
        line=$(env "$extra_env" "${bench[$v]}/bench/vx-bench" -seconds "$seconds" "$id" | grep ' median ')
      else
        line=$("${bench[$v]}/bench/vx-bench" -seconds "$seconds" "$id" | grep ' median ')
      fi
      printf '%d\t%s\t%s\t%s\n' "$r" "$id" "$v" "$(echo "$line" | awk '{print $2}')" >>"$figures"
    done
  done
  echo "round $((r + 1)) of $rounds done" >&2
done

print_table
