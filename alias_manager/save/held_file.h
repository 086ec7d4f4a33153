#pragma once
// Where a save holds its new text until it is committed, so that no failure
// can lose the old file. All is done from the directory descriptor and the
// final name that the walk found. A hold is one of:
// - a temporary file in the target's directory (mode 0600 when it replaces
//   a file, 0666 under the umask and the default ACL for a new name), given
//   the old file's owner, group, attributes and mode where they differ.
//   write() fills and syncs it; commit() renames it over the target and then
//   syncs the directory where it can. The file is unnamed (O_TMPFILE) where
//   the file system has such files and /proc is there to link one by: it
//   gets its name NAME.tmp.XXXXXX only on commit, just before the rename, so
//   that a save killed before leaves nothing. Elsewhere it is created under
//   that name.
// - the target itself, written in place by commit(), where a replacement
//   could not keep what the old file had: a target that is not a regular
//   file, a regular file with other hard links, a file whose attributes a
//   new file cannot be given (not_kept() says which), and a directory that
//   refuses a new file for want of permission. For a regular file, write()
//   counts the new text and reserves room for it, so that a full disk writes
//   nothing; commit() writes it over the old text, cuts the file to its
//   length and syncs it. Where the file system cannot reserve room, the file
//   is emptied first, as a failure part way could otherwise leave the end of
//   the old text after the new.
// A hold that goes without a commit is rolled back: its temporary file is
// removed; a file to be written in place is left as it was.

#include <optional>
#include <string>

#include "name_walk.h"
#include "old_file.h"
#include "text_stream.h"

class held_file {
public:
    // Holds the new text of the file at `target`, where `old` is found.
    held_file(const name_target& target, const old_file& old);
    ~held_file();
    held_file(const held_file&) = delete;
    held_file& operator=(const held_file&) = delete;

    // The errno value when no hold could be had; the save fails with it.
    int error() const { return error_; }
    // What a new file could not keep, so that the target is written in
    // place; null otherwise.
    const char* not_kept() const { return not_kept_; }
    // The file to be written in place was gone or another by the time it
    // was opened: the save must look again.
    bool stale() const { return stale_; }
    // The state in which the target must still be found just before the
    // commit: the old file's, or as a reservation of room left it.
    const file_state& decided() const { return decided_; }
    // Puts the new text in the hold: into the temporary file, synced; for a
    // file written in place, room for it. 0 or the errno value.
    int write(const fill_function& fill);
    // Makes the new text the target's. 0 or the errno value.
    int commit();
    // The file as the commit left it, where known.
    const std::optional<file_state>& written() const { return written_; }

private:
    void hold_temporary(const old_file& old);
    void hold_in_place(const old_file& old);
    bool open_unnamed(mode_t mode);
    bool create_named(mode_t mode);
    bool link_unnamed();
    void drop_temporary();
    int reserve(const fill_function& fill);
    int commit_in_place();

    int directory_;
    std::string name_;
    bool in_place_ = false;
    bool unnamed_ = false;   // an unnamed temporary file, not yet linked
    bool regular_ = false;   // in place: a regular file...
    bool reserved_ = false;  // ...with room for the new text
    unique_fd fd_;
    std::string temporary_;  // the temporary file's name, once it has one
    const fill_function* fill_ = nullptr;  // in place: the text to write on commit
    int error_ = 0;
    const char* not_kept_ = nullptr;
    bool stale_ = false;
    file_state decided_;
    bool committed_ = false;
    std::optional<file_state> filled_;  // the temporary file once filled
    std::optional<file_state> written_;
};
