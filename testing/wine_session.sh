#!/bin/sh
# Starts or ends the Wine session that the Wine test suites share.
#   wine_session.sh start <prefix>: creates the Wine prefix when it does not
#     exist yet (the first start takes half a minute) and leaves a wineserver
#     running for it until "stop".
#   wine_session.sh stop <prefix>: ends that wineserver and every Wine
#     process of the prefix.
set -eu
action=$1
WINEPREFIX=$2
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 </dev/null
      echo "created Wine prefix $WINEPREFIX"
    fi
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop <prefix>" >&2
    exit 2
    ;;
esac
