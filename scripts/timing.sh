# Sourced by the CI scripts: `timed LABEL COMMAND...` runs the command and prints how long it took,
# so a slow part of CI shows in its log. Keeps the command's exit status.
timed() {
    local label="$1" start status=0
    shift
    start=$(date +%s)
    "$@" || status=$?
    echo "[time] $label: $(( $(date +%s) - start )) s$([ "$status" -ne 0 ] && echo " (failed, status $status)")"
    return "$status"
}

# `quiet COMMAND...`: the command without its standard output (errors still show).
quiet() {
    "$@" >/dev/null
}
