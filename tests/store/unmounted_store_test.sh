#!/bin/bash
# A shared store that is not mounted: applications pause (503, one error line) and nothing lands on
# the bare mount point. A tmpfs stands for the shared store, mounted and unmounted in a mount
# namespace of the test's own. Usage: unmounted_store_test.sh APPLY_CGI. Exit 77: no namespace.
set -u
apply=$(realpath "$1")
if [ "${IN_OWN_NAMESPACE:-}" != 1 ]; then
    if [ "$(id -u)" = 0 ]; then set -- unshare --mount --propagation private; else set -- unshare -r --mount; fi
    "$@" true 2>/dev/null || { echo "no mount namespace here"; exit 77; }
    IN_OWN_NAMESPACE=1 exec "$@" bash "$0" "$apply"
fi
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAIL: $2"; failed=1; fi; }
site=$(mktemp -d)
trap 'umount "$site/people" 2>/dev/null; rm -rf "$site"' EXIT
mkdir "$site/people"

# One submission of NAME: the answer on standard output, the error lines in $site/err.
submit() {
    local b=----unmounted body
    body=$(printf -- '--%s\r\nContent-Disposition: form-data; name="name"\r\n\r\n%s\r\n--%s\r\nContent-Disposition: form-data; name="mail"\r\n\r\nx@example.org\r\n--%s\r\nContent-Disposition: form-data; name="interest"\r\n\r\nWork\r\n--%s\r\nContent-Disposition: form-data; name="resume"; filename="cv.txt"\r\nContent-Type: text/plain\r\n\r\nresume\r\n--%s--\r\n' "$b" "$1" "$b" "$b" "$b" "$b")
    (cd "$site" && printf '%s' "$body" | REQUEST_METHOD=POST CONTENT_LENGTH=${#body} \
        CONTENT_TYPE="multipart/form-data; boundary=$b" APPLY_STORE_MOUNTS=people "$apply" 2>"$site/err")
}

mount -t tmpfs -o size=1g tmpfs "$site/people"
answer=$(submit "Ada Mounted")
check '[[ $answer == *"Thank You!"* ]]' "filed while the store is mounted"
umount "$site/people"
answer=$(submit "Bea Unmounted"); status=$?
check '[[ $answer == "Status: 503"* && $answer == *"Applications paused"* && $status == 1 ]]' \
      "503 Applications paused while it is not mounted"
check '[ "$(wc -l <"$site/err")" = 1 ] && grep -q "not its own mounted file system" "$site/err"' "one error line"
check '[ -z "$(ls -A "$site/people")" ]' "nothing written onto the bare mount point"
rmdir "$site/people"
answer=$(submit "Cy Missing")
check '[[ $answer == "Status: 503"* ]] && [ ! -e "$site/people" ]' "503 while the mount point is missing too"
exit $failed
