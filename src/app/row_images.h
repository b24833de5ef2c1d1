// Row history: what a change of the logs did to its row, read from the replayed pages.
//
// A replace, a flag-delete or a delete record names only a page and a line: the row it
// acts on is whatever that line held at that point of the logs. Both front ends get it
// by replaying the logs onto the database's file (in memory, never written) and keeping,
// per log position, the node's key and its data before and after the operation. A
// change of the stream then takes its key and images from the record of the same
// position.
//
// The replay starts where replay_logs starts: the file's own position (a database
// opened with its logs is replayed again from its file, so the same images come out).
// Records the file already holds (a database that needs no replay, or records before
// its position) change no page and give no images: their changes keep the key their
// record carries (inserts) and no before or after. A replay that fails (a missing
// generation, damage) gives no images either and says why in problem().
#pragma once

#include <map>
#include <string>

#include "database/database.h"
#include "log/database_link.h"
#include "log/log_folder.h"

namespace quarrow::app {

class ChangeImages {
 public:
  // Replays `folder` onto `db`'s file; holds every node operation's images in memory
  // (a key and two rows per operation of the database's trees).
  ChangeImages(const Database& db, const logs::LogFolder& folder);

  // Names the change's row (its key, when the record carries none) and points its
  // before / after at the images: before when the node existed, after for the changes
  // that leave one (not an insert, whose record is the row, nor a delete).
  void attach(logs::RowChange& change) const;

  // Why no image is given (empty when the replay completed).
  const std::string& problem() const { return problem_; }

 private:
  struct Images {
    std::string key;
    std::string before;
    std::string after;
  };
  std::map<logs::LogPosition, Images> by_position_;
  std::string problem_;
};

// Whether a change is of the row `key` of table `table` (row history by key).
bool change_of_row(const logs::RowChange& change, std::string_view table, std::string_view key);

}  // namespace quarrow::app
