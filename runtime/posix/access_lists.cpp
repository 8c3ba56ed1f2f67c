// POSIX access lists, read with the system's own library (libacl): where a file or folder has one,
// its mode's group bits are only the list's mask, and the users and groups it names are not seen
// there at all.
#include <acl/libacl.h>
#include <errno.h>
#include <sys/acl.h>
#include <unistd.h>

#include "posix.hpp"

namespace rt::os {

bool list_lets_others_write(const std::string& path, const struct stat& st, bool (*runners_alone)(gid_t)) {
    acl_t list = ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    // A file system without lists has the mode bits alone; a list that cannot be read is taken as
    // the worst it could say.
    if (!list) return errno != ENOTSUP && errno != ENOSYS;
    bool mask_writes = true, others = false, everyone = false;  // others: the entries the mask bounds
    uid_t me = ::geteuid();
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(list, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        if (::acl_get_tag_type(entry, &tag) != 0 || ::acl_get_permset(entry, &permissions) != 0) {
            everyone = true;
            break;
        }
        bool writes = ::acl_get_perm(permissions, ACL_WRITE) == 1;
        if (tag == ACL_MASK) {
            mask_writes = writes;
        } else if (writes && (tag == ACL_USER || tag == ACL_GROUP)) {
            void* qualifier = ::acl_get_qualifier(entry);
            if (!qualifier) {
                everyone = true;
                break;
            }
            // A named user other than the runner and root, or a named group not the runner's alone.
            others |= tag == ACL_USER ? *static_cast<uid_t*>(qualifier) != me && *static_cast<uid_t*>(qualifier) != 0
                                      : !runners_alone(*static_cast<gid_t*>(qualifier));
            ::acl_free(qualifier);
        } else if (writes && tag == ACL_GROUP_OBJ) {
            others |= !runners_alone(st.st_gid);
        } else if (writes && tag == ACL_OTHER) {
            everyone = true;
        }
    }
    ::acl_free(list);
    return everyone || (others && mask_writes);
}

bool copy_access_list(const std::string& from, int to) {
    acl_t list = ::acl_get_file(from.c_str(), ACL_TYPE_ACCESS);
    if (!list) return false;
    bool copied = ::acl_set_fd(to, list) == 0;
    ::acl_free(list);
    return copied;
}

}  // namespace rt::os
