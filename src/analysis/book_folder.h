// The folder a book's pages go into. Two books may share a title (two
// issues of one magazine), so a folder carries a small record of the book
// it holds: the address its pages come from. A folder that holds another
// book is never used for this one; this book gets a folder of its own whose
// name adds a short, stable mark made from its image address.
#pragma once

#include <optional>
#include <string>

#include "platform/failure.h"
#include "text/text.h"

namespace folivex {

// The record's file name inside a book folder.
inline constexpr char kBookRecordName[] = ".folivex-book";

struct BookFolder {
  Text name;  // the folder's name, one level below the root
  Text path;  // root + separator + name + separator
  std::optional<Failure> failure;  // the folder could not be made or claimed
};

// The record's text for a book whose pages come from `image_base`.
Text BookRecordText(const Text& image_base, const Text& address);
// The image address a record names; empty for a text that is no record.
Text ImageBaseOfRecord(const Text& record);

// Chooses, creates and claims the folder for a book below `root`: the
// folder named after the title when it is free, holds this book already, or
// holds no record (a folder from before records, used as it is and claimed);
// otherwise the same name with " (mark)" added. `title` and `address` make
// the name as SafeFolderName does; `image_base` tells books apart.
BookFolder PrepareBookFolder(const Text& root, const Text& title, const Text& address,
                             const Text& image_base);

}  // namespace folivex
