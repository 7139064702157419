# Replaces a folder that a script wrote on an earlier run, and nothing else
# (sourced by scripts/package and scripts/rebuild-packages). The caller
# defines `ours FOLDER` (true when FOLDER is exactly what the caller wrote,
# judged by a marker file only the caller writes) and `fail MESSAGE`
# (exits 2).
#
# The new contents go into a folder of their own beside the destination;
# the earlier folder is set aside under a fixed name, .NAME.old, and
# removed only once the new one is in place. An interrupted swap (Ctrl-C,
# SIGTERM) puts the earlier folder back on the way out; one cut short
# harder (SIGKILL, a crash) is undone by the next run before it does
# anything else. So the destination is never lost, whenever the run ends.

# replace_setup DEST: resolves DEST (absolute, its parent made), names the
# folder set aside, and installs the exit trap.
replace_setup() {
  mkdir -p "$(dirname "$1")"
  replace_parent=$(cd "$(dirname "$1")" && pwd)
  replace_dest=$replace_parent/$(basename "$1")
  replace_aside=$replace_parent/.$(basename "$1").old
  replace_new=""
  trap replace_finish EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# replace_check: the destination may be replaced (absent, an empty folder,
# or the caller's own), else the run is refused. Called before the work
# and again right before the swap: a file put there meanwhile is kept.
replace_check() {
  if [ -e "$replace_dest" ] || [ -L "$replace_dest" ]; then
    [ -d "$replace_dest" ] && [ ! -L "$replace_dest" ] ||
      fail "$replace_dest is not a folder; not touching it"
    [ -z "$(ls -A "$replace_dest")" ] || ours "$replace_dest" ||
      fail "$replace_dest holds files this script did not write (or changed since); not touching it"
  fi
}

# replace_recover: finishes or undoes a swap an earlier run left halfway.
replace_recover() {
  [ -e "$replace_aside" ] || [ -L "$replace_aside" ] || return 0
  [ -d "$replace_aside" ] && [ ! -L "$replace_aside" ] && ours "$replace_aside" ||
    fail "$replace_aside is in the way and not this script's; not touching it"
  if [ -e "$replace_dest" ] || [ -L "$replace_dest" ]; then
    rm -rf -- "$replace_aside"
  else
    mv -T -- "$replace_aside" "$replace_dest"
    echo "$replace_dest put back (an earlier run was cut short while replacing it)" >&2
  fi
}

# replace_begin: makes the new folder, $replace_new.
replace_begin() {
  replace_new=$(mktemp -d "$replace_parent/.$(basename "$replace_dest").new.XXXXXX")
  chmod 755 "$replace_new"
}

# replace_commit: the new folder into place, the earlier one removed.
replace_commit() {
  replace_check
  if [ -e "$replace_dest" ] && [ -n "$(ls -A "$replace_dest")" ]; then
    mv -T -- "$replace_dest" "$replace_aside"
  fi
  # An empty destination is replaced by the rename itself.
  mv -T -- "$replace_new" "$replace_dest"
  replace_new=""
  if [ -e "$replace_aside" ]; then
    if ours "$replace_aside"; then
      rm -rf -- "$replace_aside"
    else
      echo "kept $replace_aside: a file came into it during the swap" >&2
    fi
  fi
}

replace_finish() {
  if [ -n "${replace_aside:-}" ] && [ -e "$replace_aside" ] && [ ! -e "$replace_dest" ] &&
     [ ! -L "$replace_dest" ]; then
    mv -T -- "$replace_aside" "$replace_dest"
  fi
  [ -z "${replace_new:-}" ] || rm -rf -- "$replace_new"
}
