#pragma once
// The store of --records as vane-upgrade reaches it: an SQLite file or a
// postgresql:// URI, checked before anything is sent to a device; and the
// local file that keeps what a lost store could not take.
#include <memory>
#include <optional>
#include <string>

#include "records/record_store.h"

// How --records names a store on this platform, for its help.
const char* RecordStoreForms();
// Why STORE is malformed (a usage error), or nothing when it may be opened.
std::optional<std::string> StoreLocationProblem(const std::string& location);
// The store as messages name it: a URI by its hosts, ports and database
// only, never its user part or password.
std::string StoreShownName(const std::string& location);
// Opens the store; null with one line of error when it cannot be reached,
// opened, or (for writing) written.
std::unique_ptr<IRecordStore> OpenRecordStore(const std::string& location, std::string& error, bool writing = true);

// Appends one JSON line to the file of unsaved records (the user's state
// folder, $XDG_STATE_HOME/vane-upgrade/unsaved-records.jsonl, created when
// missing) and names the file in path.
bool KeepUnsavedLine(const std::string& jsonLine, std::string& path, std::string& error);
