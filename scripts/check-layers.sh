#!/usr/bin/env bash
# Fails on an include line under src/ that runs up the ladder: between the
# libraries, and between the folders of src/pelmora, in quotes or angle
# brackets, relative or not. Each offending line is named as file:line: the
# include; a source outside the ladder's libraries and folders is named as
# file:. docs/ARCHITECTURE.md describes the ladder.
#
#   scripts/check-layers.sh [tree]    (tree: a checkout, this one by default)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

# The libraries and what each may include. The system and the product stand
# side by side on the interfaces: neither includes the other.
libraries='
runtime:    runtime
ado:        runtime ado
interfaces: runtime ado interfaces
product:    runtime ado interfaces product
pelmora:    runtime ado interfaces pelmora
'
# The folders of src/pelmora, lowest first: each includes only itself and
# those listed before it. Files directly in src/pelmora (the
# registration) may include every folder.
folders='
common
metadata
findings
persistence
extensions
features
attribute_validation
validation_set
relationships
dimensioning_stationing
validation
'

cd "$root/src"
# Angle brackets count as well as quotes: src is an include folder, so
# <pelmora/...> compiles too.
grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' . |
    sed 's#^\./##' |
    awk -v libraries="$libraries" -v folders="$folders" '
    BEGIN {
        n = split(libraries, lines, "\n")
        for (i = 1; i <= n; i++) {
            if (lines[i] !~ /:/) continue
            split(lines[i], parts, ":")
            lib = parts[1]; gsub(/[[:space:]]/, "", lib)
            known[lib] = 1
            m = split(parts[2], may, " ")
            for (j = 1; j <= m; j++) allowed[lib, may[j]] = 1
        }
        n = split(folders, names, "\n")
        rank = 0
        for (i = 1; i <= n; i++) if (names[i] != "") level[names[i]] = ++rank
        bad = 0
        # Every source has a place on the ladder, whatever it includes.
        lister = "find . -type f \\( -name \"*.h\" -o -name \"*.cpp\" \\) | sed \"s#^\\./##\" | sort"
        while ((lister | getline f) > 0) {
            exists[f] = 1
            k = split(f, at, "/")
            if (k < 2 || !(at[1] in known)) {
                printf "src/%s: (outside the libraries of the ladder)\n", f
                bad = 1
            } else if (at[1] == "pelmora" && k > 2 && !(at[2] in level)) {
                printf "src/%s: (folder %s of src/pelmora is not in the ladder)\n", f, at[2]
                bad = 1
            }
        }
        close(lister)
    }
    # A path under src with its "." and ".." resolved; "" when it leaves src.
    function underSrc(path,    k, part, out, depth, i) {
        k = split("src/" path, part, "/")
        depth = 0
        for (i = 1; i <= k; i++) {
            if (part[i] == "" || part[i] == ".") continue
            if (part[i] == "..") { if (depth == 0) return ""; depth--; continue }
            out[++depth] = part[i]
        }
        if (depth < 2 || out[1] != "src") return ""
        path = out[2]
        for (i = 3; i <= depth; i++) path = path "/" out[i]
        return path
    }
    {
        # file:line:text
        file = $0; sub(/:.*/, "", file)
        rest = substr($0, length(file) + 2)
        line = rest; sub(/:.*/, "", line)
        text = substr(rest, length(line) + 2)
        quoted = text ~ /^[[:space:]]*#[[:space:]]*include[[:space:]]*"/
        target = text; sub(/^[^"<]*["<]/, "", target); sub(/[">].*/, "", target)
        # A quoted include is looked for beside its file first, as the compiler does.
        path = ""
        if (quoted) {
            dir = file; sub(/\/?[^\/]*$/, "", dir)
            beside = underSrc((dir == "" ? "" : dir "/") target)
            if (target ~ /^\.\.?\// || (beside in exists)) path = beside
        }
        if (path == "" && target !~ /^\.\.?\//) path = underSrc(target)
        if (path == "") next                 # outside src
        split(file, from, "/"); split(path, to, "/")
        if (!(to[1] in known)) next          # not one of ours
        if (!(from[1] in known)) next        # the file itself is named above
        if (!((from[1], to[1]) in allowed)) {
            printf "%s:%s: %s  (%s may include only: %s)\n", "src/" file, line, text, from[1], mayList(from[1])
            bad = 1
            next
        }
        if (from[1] != "pelmora" || to[1] != "pelmora") next
        if (to[3] != "" && !(to[2] in level)) {
            printf "%s:%s: %s  (no folder %s in the ladder)\n", "src/" file, line, text, to[2]
            bad = 1
            next
        }
        if (from[3] == "") next               # src/pelmora/<file>: the registration sits on top
        if (!(from[2] in level)) next         # the file itself is named above
        if (to[3] == "") {                   # pelmora/<file>: the top
            printf "%s:%s: %s  (only the top of src/pelmora includes its own files)\n", "src/" file, line, text
            bad = 1
            next
        }
        if (level[to[2]] > level[from[2]]) {
            printf "%s:%s: %s  (%s is below %s)\n", "src/" file, line, text, from[2], to[2]
            bad = 1
        }
    }
    function mayList(lib,    k, out, pair) {
        out = ""
        for (k in allowed) { split(k, pair, SUBSEP); if (pair[1] == lib) out = out " " pair[2] }
        return out
    }
    END { exit bad }
    ' || { echo "check-layers: includes run up the ladder or sources stand off it (see docs/ARCHITECTURE.md)" >&2; exit 1; }
