# Sourced by the scripts that need a private X server: the window test, the
# window bench.
#
# start_xvfb DISPLAY_FILE [LOG]: starts Xvfb on a display it picks itself and
# writes to DISPLAY_FILE, waits up to 30 s for it, and sets xvfb_pid and
# xvfb_display (":N"). It must not reset when the last client leaves: the
# next program would find it gone a moment.
start_xvfb() {
  local display_file=$1 log=${2:-/dev/null}
  rm -f "$display_file"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$display_file" 2>"$log" &
  xvfb_pid=$!
  local _
  for _ in $(seq 300); do
    [[ -s $display_file ]] && break
    sleep 0.1
  done
  [[ -s $display_file ]] || return 1
  xvfb_display=":$(cat "$display_file")"
}
