// A consistent copy of a store root, and putting one back.
#include <filesystem>

#include "app/admin/lifecycle.h"

namespace fs = std::filesystem;

namespace {

// Copies the tree at `from` into the new folder `to`, leaving temporary files out.
bool copy_tree(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code ec;
    if (!fs::create_directory(to, ec) || ec) {
        error = "cannot create " + to.string() + ": " + ec.message();
        return false;
    }
    for (const auto& entry : fs::directory_iterator(from, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(platform::TEMP_NAME_PREFIX, 0) == 0) continue;
        bool ok = entry.is_directory(ec)
                      ? copy_tree(entry.path(), to / name, error)
                      : (fs::copy_file(entry.path(), to / name, ec), !ec);
        if (!ok) {
            if (error.empty()) error = "cannot copy " + entry.path().string() + ": " + ec.message();
            return false;
        }
    }
    if (ec) error = "cannot read " + from.string() + ": " + ec.message();
    return !ec;
}

}  // namespace

bool backup_store(const StaffStore& store, const std::string& destination, std::string& error) {
    if (fs::exists(destination)) {
        error = destination + " exists already";
        return false;
    }
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return false;
    }
    return copy_tree(store.root(), destination, error);
}

bool restore_store(const std::string& source, const std::string& root, std::string& error) {
    std::error_code ec;
    if (!fs::exists(source + "/index.html")) {
        error = source + " is not a store backup (no index.html)";
        return false;
    }
    if (fs::exists(root) && !fs::is_empty(root, ec)) {
        error = root + " is not empty: restore into a new or empty folder, then swap them with "
                       "the server stopped";
        return false;
    }
    if (fs::exists(root)) fs::remove(root, ec);
    return copy_tree(source, root, error);
}
