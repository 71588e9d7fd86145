# Sourced by scripts/run and scripts/uninstall once $prefix is set: where an installation keeps its
# record and its state, and what both scripts do with them.
#
# The record holds one entry per thing that scripts/run made, each ended by a NUL byte so that a path
# may hold any character: "P" and the prefix first, then "D" for a folder, "F" for a file, "L" for a
# link into the prefix (the autostart entry's, the GNOME Shell extension's) and "E" for the GNOME Shell
# extension that the run enabled, each followed by its absolute path (the extension: its uuid), in the
# order they were made. Uninstalling removes exactly these, newest first, and never a file or folder
# that was there before.

# Folders and files are named by absolute paths without symbolic links resolved, as the user wrote
# them; the prefix need not exist yet.
prefix=$(realpath -ms -- "$prefix")
record=$prefix/share/glintor/installed-files
service=$prefix/bin/glintor-service
autostart_entry=$prefix/etc/xdg/autostart/glintor.desktop
autostart_link=${XDG_CONFIG_HOME:-$HOME/.config}/autostart/glintor.desktop
# Glintor's extension for GNOME Shell: in the prefix, and where the Shell looks for a user's own.
extension_uuid=glintor@glintor.org
extension_dir=$prefix/share/gnome-shell/extensions/$extension_uuid
extension_link=${XDG_DATA_HOME:-$HOME/.local/share}/gnome-shell/extensions/$extension_uuid
state=${XDG_STATE_HOME:-$HOME/.local/state}/glintor
# A service started directly keeps its PID file and log per prefix, so that two installations never
# stop or remove each other's. The default prefix keeps the names that were once every prefix's.
if [[ "$prefix" == "$(realpath -ms -- "$HOME/.local")" ]]; then
    instance=glintor-service
else
    instance=glintor-service-$(printf '%s' "$prefix" | sha256sum | cut -c1-12)
fi
pidfile=$state/$instance.pid
logfile=$state/$instance.log

# Fills "entries" with the record of the installation in $prefix (none: empty).
read_record() {
    local line
    entries=()
    if [[ -f "$record" ]]; then
        mapfile -d '' -t entries < "$record"
    elif [[ -f "$prefix/share/glintor/installed-files.txt" ]]; then
        # Earlier versions kept CMake's list of installed files, one per line, and linked the
        # autostart entry; the folders they made are unknown, so those stay.
        entries=("P$prefix")
        while IFS= read -r line || [[ -n "$line" ]]; do
            [[ "$line" == "$prefix"/* ]] && entries+=("F$line")
        done < "$prefix/share/glintor/installed-files.txt"
        entries+=("F$prefix/share/glintor/installed-files.txt" "L$autostart_link")
    fi
}

# A path quoted for a command line the user can copy.
quoted() {
    if [[ "$1" =~ ^[A-Za-z0-9_./:+,@=-]+$ ]]; then
        printf '%s' "$1"
    else
        printf "'%s'" "${1//\'/\'\\\'\'}"
    fi
}

# Stops the glintor-service that scripts/run started directly for this prefix, without a user manager.
stop_direct_service() {
    local file pid exe
    # Earlier versions kept one PID file for all prefixes: it is read too, and left alone while it
    # names another installation's running service.
    for file in "$pidfile" "$state/glintor-service.pid"; do
        [[ -f "$file" ]] || continue
        pid=$(cat "$file")
        exe=$(readlink "/proc/$pid/exe" 2> /dev/null) || exe=
        # Only the process this installation started: the PID may have been reused since.
        if [[ "$exe" == "$service"* ]]; then
            kill -TERM "$pid" 2> /dev/null || true
            for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
            if kill -0 "$pid" 2> /dev/null; then
                kill -KILL "$pid" 2> /dev/null || true
            fi
            echo "Stopped glintor-service (PID $pid)"
        elif [[ "$file" != "$pidfile" && "${exe##*/}" == glintor-service* ]]; then
            continue
        fi
        rm -f "$file"
    done
}

# Whether GNOME Shell would load the extension at the next login: its uuid is among the enabled ones.
extension_enabled() {
    gsettings get org.gnome.shell enabled-extensions 2> /dev/null | grep -q "'$extension_uuid'"
}

# Adds the extension to GNOME Shell's enabled ones, or takes it out (enable|disable). gnome-extensions
# asks the running Shell; without one, or where it fails, the setting is changed directly.
switch_extension() {
    gnome-extensions "$1" "$extension_uuid" > /dev/null 2>&1 && return 0
    command -v gsettings > /dev/null || return 1
    local enabled
    enabled=$(gsettings get org.gnome.shell enabled-extensions 2> /dev/null) || return 1
    enabled=${enabled#@as }
    enabled=$(printf '%s' "$enabled" | tr -d "[] " | tr ',' '\n' | grep -v "^'$extension_uuid'\$" | grep -v '^$' || true)
    [[ "$1" == enable ]] && enabled+=$'\n'"'$extension_uuid'"
    gsettings set org.gnome.shell enabled-extensions "[$(printf '%s' "$enabled" | grep -v '^$' | paste -sd, -)]"
}
