// Backups, their check and restores, over the store copies (store_copy.h), with the lock and the
// audit lines around them.
#include "app/store/operations.h"
#include "app/store/store_copy.h"

namespace store {

bool backup_store(const ApplicantStore& store, const std::string& destination, std::string& error) {
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return false;
    }
    return backup_tree(store.store_root(), destination, lock.fd(), error);
}

bool verify_store_backup(const std::string& backup, std::vector<std::string>& problems,
                         std::string& error) {
    return verify_backup(backup, problems, error);
}

bool restore_store(const std::string& backup, const std::string& root, const AuditLog& audit,
                   std::string& error) {
    if (!audit.configured()) {
        error = "no audit log: set APPLY_AUDIT_LOG or --audit";
        return false;
    }
    if (!audit.write("restore", root, "-", "begun: from " + backup)) {
        error = "cannot write the audit log " + audit.path() + ": nothing restored";
        return false;
    }
    const bool restored = restore_tree(backup, root, error);
    if (!audit.write("restore", root, "-", restored ? "done: from " + backup : "failed: " + error) &&
        restored) {
        error = "restored, but the audit log " + audit.path() + " could not be written";
        return false;
    }
    return restored;
}

}  // namespace store
