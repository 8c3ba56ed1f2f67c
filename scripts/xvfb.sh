# Sourced by the scripts that need a display of their own: start_xvfb DIR starts a private Xvfb
# (1024x768, 24 bits, no TCP), waits until it is ready, exports DISPLAY and sets xvfb to its
# process id, which the caller's EXIT trap ends.
start_xvfb() {
  exec 3>"$1/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n 1 "$1/display")"
}
