# The shared schedule database, as the package's maintainer scripts prepare and remove it.
# Plain POSIX sh: it is copied into postinst and postrm, which cannot rely on any file of the
# package still being there (postrm runs after the files are gone). ROOT is empty on a real
# system and a scratch folder in the tests.

# schedule_database_prepare ROOT DATABASE OWNER SCHEMA
# Gives the database's folder to OWNER (user:group) with mode 2775, so that the group's members
# may write the database and SQLite's journal beside it, and creates the database from SCHEMA
# with mode 0664 only when nothing is at its path yet: an existing schedule, or even a link
# there, is never written to.
schedule_database_prepare() {
    _sd_file=$1$2
    _sd_dir=${_sd_file%/*}
    mkdir -p "$_sd_dir" && chown "$3" "$_sd_dir" && chmod 2775 "$_sd_dir" || return 1
    if [ -e "$_sd_file" ] || [ -L "$_sd_file" ]; then
        return 0
    fi
    # Built aside and linked into place, so a failed schema leaves nothing half made and a file
    # that appeared meanwhile is not replaced.
    _sd_new=$_sd_file.new.$$
    rm -f "$_sd_new" "$_sd_new-journal"
    if ! sqlite3 -bail "$_sd_new" <"$4" || ! chown "$3" "$_sd_new" ||
        ! chmod 0664 "$_sd_new"; then
        rm -f "$_sd_new" "$_sd_new-journal"
        echo "Could not create the schedule database $2 from $4" >&2
        return 1
    fi
    ln "$_sd_new" "$_sd_file" 2>/dev/null || true
    rm -f "$_sd_new"
}

# schedule_database_purge ROOT DATABASE
# Deletes the database with the files SQLite keeps beside it, then its folder unless someone
# left other files there.
schedule_database_purge() {
    _sd_file=$1$2
    _sd_dir=${_sd_file%/*}
    rm -f "$_sd_file" "$_sd_file-journal" "$_sd_file-wal" "$_sd_file-shm"
    if [ -d "$_sd_dir" ] && ! rmdir "$_sd_dir" 2>/dev/null; then
        echo "Kept the folder of $2: it holds other files" >&2
    fi
    return 0
}
