// The record a tool keeps of the changes it makes to the desktop while it runs (spare key codes
// bound, modifiers released, a mouse button held), so that a later run can put back what a run
// killed before it could clean up left behind.
//
// The record is written in full before the change it lists leaves for the window system, and
// removed once everything is back; a run that finds one left over undoes it first. Runs on one
// display take turns: the file journal holds a lock for the run's length, so a live run's record
// is never mistaken for a killed one's.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace mevrik {

class Journal {
 public:
  virtual ~Journal() = default;
  // The record, or none when there is none.
  virtual std::optional<std::string> read() = 0;
  // Replaces the record as a whole: a reader finds the old one or the new one, never a part.
  // False when it could not be written.
  virtual bool write(const std::string& text) = 0;
  virtual void remove() = 0;
};

// A journal in $XDG_RUNTIME_DIR/mevrik/NAME: the folder is made 0700 and used only when it is
// the user's own and private; the record is 0600, written to NAME.new and renamed over NAME; the
// lock is on NAME.lock.
class FileJournal : public Journal {
 public:
  // Opens the journal NAME (a single path component) and waits for the runs before this one to
  // end. None when XDG_RUNTIME_DIR is unset, not absolute, or the folder is not usable: such runs
  // keep no record (and cannot undo a killed run's changes).
  static std::unique_ptr<FileJournal> open(const std::string& name);
  ~FileJournal() override;

  FileJournal(const FileJournal&) = delete;
  FileJournal& operator=(const FileJournal&) = delete;

  std::optional<std::string> read() override;
  bool write(const std::string& text) override;
  void remove() override;

 private:
  FileJournal(std::string path, int lock) : path_(std::move(path)), lock_(lock) {}

  std::string path_;
  int lock_;
};

}  // namespace mevrik
