# Sourced by the scripts that drive the real program on a display.
# completion_box <copy window> <seconds>: prints the id of the other visible window titled
# " Velmora", the completion box, once it is there; nothing when none came within the time
# (0 seconds: looks once).
completion_box() {
  local window=$1 tries=$(($2 * 5)) candidate
  for _ in $(seq 1 $((tries > 0 ? tries : 1))); do
    for candidate in $(xdotool search --onlyvisible --name '^ Velmora$' 2>/dev/null); do
      if [[ $candidate != "$window" ]]; then
        echo "$candidate"
        return 0
      fi
    done
    sleep 0.2
  done
}
