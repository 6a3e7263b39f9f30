// Keeps the test-support library non-empty before any fake is added.
namespace testsupport {
int LibraryAnchor() { return 0; }
}  // namespace testsupport
