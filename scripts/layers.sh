#!/usr/bin/env bash
# Checks that the engine's layers hold (engine/README.md draws them): every
# file of engine/ belongs to one module of the order below, and a file may
# include, or call into, only its own module and the modules before it.
#
#   layers.sh              the #include "..." edges among the engine's files
#   layers.sh --calls DIR  also the calls between its object files in the
#                          build folder DIR (the symbols each one uses from
#                          another, read with nm), e.g. build/test
#
# Fails, naming the edges, on an edge to a later module, on a file that no
# module lists, and on a cycle (tsort) among the files' includes or among
# the modules.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# The modules from the bottom up, with their files.
modules=(
    "public: include/engine.h"
    "thresholds: thresholds.h"
    "kernels: kernels.h kernels.cpp kernels_adx.cpp kernels_ifma.cpp"
    "pool: pool.h pool.cpp"
    "products: products.h toom.h products.cpp toom8.cpp"
    "instance: internal.h workspace.h state.cpp"
    "product_tasks: product_tasks.h product_tasks.cpp"
    "primitives: primitives.h primitives.cpp"
    "multiply_divide: multiply_divide.h multiply_divide.cpp"
    "text: text.h text.cpp"
    "powers: powers.h powers.cpp"
    "gcd: gcd.h gcd.cpp"
    "montgomery: montgomery.h montgomery.cpp"
    "modexp: modexp.h modexp.cpp"
    "primality: primality.h primality.cpp"
    "parallel: parallel.cpp"
)

declare -A module_of rank_of
rank=0
for line in "${modules[@]}"; do
    name=${line%%:*}
    for file in ${line#*:}; do
        module_of[$file]=$name
        rank_of[$file]=$rank
    done
    rank=$((rank + 1))
done

failed=0
fail() {
    echo "$1"
    failed=1
}

cd "$root/engine"
files=$(ls ./*.h ./*.cpp include/*.h | sed 's|^\./||')
for file in $files; do
    [[ -n "${module_of[$file]:-}" ]] || fail "engine/$file is in no module (add it to scripts/layers.sh)"
done

# Include edges: from a file to the engine file it names.
include_edges=""
module_edges=""
for file in $files; do
    [[ -n "${module_of[$file]:-}" ]] || continue
    for target in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file"); do
        [[ "$target" == engine.h ]] && target=include/engine.h
        [[ -n "${module_of[$target]:-}" ]] || continue
        include_edges+="$file $target"$'\n'
        if ((rank_of[$target] > rank_of[$file])); then
            fail "upward include: engine/$file (${module_of[$file]}) includes $target (${module_of[$target]})"
        fi
        [[ "${module_of[$target]}" != "${module_of[$file]}" ]] &&
            module_edges+="${module_of[$file]} ${module_of[$target]}"$'\n'
    done
done
if ! cycle=$(printf '%s' "$include_edges" | tsort 2>&1 > /dev/null); then
    fail "include cycle: $cycle"
fi

checked="includes"
if [[ "${1:-}" == "--calls" ]]; then
    checked="includes and calls"
    objects="$(cd "$root" && realpath -m "${2:?--calls needs a build folder}")/engine/CMakeFiles/torvane_engine.dir"
    [[ -d "$objects" ]] || { echo "no engine objects in $objects"; exit 1; }
    # Which object defines each global symbol, then each object's uses.
    defined=$(for o in "$objects"/*.cpp.o; do
                  f=$(basename "$o" .o)
                  [[ -f "$f" ]] || continue
                  nm --defined-only -g "$o" | awk -v f="$f" 'NF == 3 && $2 ~ /[TDBRVW]/ { print $3, f }'
              done | sort -u)
    for o in "$objects"/*.cpp.o; do
        from=$(basename "$o" .o)
        [[ -f "$from" ]] || continue  # left from a source since removed
        [[ -n "${module_of[$from]:-}" ]] || { fail "object $from is in no module"; continue; }
        while read -r to; do
            [[ -z "$to" || "$to" == "$from" ]] && continue
            if ((rank_of[$to] > rank_of[$from])); then
                fail "upward call: engine/$from (${module_of[$from]}) calls into $to (${module_of[$to]})"
            fi
            [[ "${module_of[$to]}" != "${module_of[$from]}" ]] &&
                module_edges+="${module_of[$from]} ${module_of[$to]}"$'\n'
        done < <(nm -u "$o" | awk '{ print $2 }' | sort -u | join - <(printf '%s\n' "$defined") | awk '{ print $2 }' | sort -u)
    done
fi

if ! cycle=$(printf '%s' "$module_edges" | tsort 2>&1 > /dev/null); then
    fail "cycle among the modules: $cycle"
fi

((failed == 0)) || exit 1
echo "the engine's ${#modules[@]} modules hold their order ($checked)"
