// The compressor's internal error slot. A failing consistency check stores
// its message here and compression goes on; a message left in the slot at the
// end fails the entry. Later failures overwrite earlier ones.
#ifndef POSTRUNNER_DEFLATE_ERROR_SLOT_H_
#define POSTRUNNER_DEFLATE_ERROR_SLOT_H_

namespace postrunner {
namespace deflate {

struct ErrorSlot {
  const char* message = nullptr;  // static text; null while nothing failed

  void Record(const char* text) { message = text; }
};

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_ERROR_SLOT_H_
