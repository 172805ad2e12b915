# shellcheck shell=bash
# The wine prefix the Windows checks share (<windows build>/wineprefix), for the scripts that run
# programs in it: the environment cmake/IapWine.cmake's wine-run.sh gives the unit tests. Without
# wine's mount manager, which would map the machine's serial devices to COM ports at every start (see
# there); a check's own port is a link $WINEPREFIX/dosdevices/comN to its pseudo-terminal.

# wine_test_env PREFIX: exports WINEPREFIX and the rest, and drops links to the machine's serial
# devices that a start of the prefix with the mount manager left behind.
wine_test_env() {
    export WINEPREFIX="$1" WINEDEBUG=-all
    # No Mono or Gecko prompts while the prefix is made: the programs need neither.
    export WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d"
    local link
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [ -L "$link" ] || continue
        case "$(readlink "$link")" in /dev/ttyS* | /dev/ttyUSB* | /dev/ttyACM*) rm -f "$link" ;; esac
    done
}
