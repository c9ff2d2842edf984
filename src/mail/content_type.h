// Content types of attachments, looked up by file name in the MIME database
// (HKEY_CLASSES_ROOT; see registry/registry_files.h for where it lives).
#ifndef POSTRUNNER_MAIL_CONTENT_TYPE_H_
#define POSTRUNNER_MAIL_CONTENT_TYPE_H_

#include <string>

namespace postrunner {

// The MIME content type for `file_name`, from its extension (the text from
// its last "." on): first the content type whose "Extention" value is that
// extension, then the extension key's "Content Type" value, then
// "application/x-zip-compressed" for ".zip" and "application/unknown" for
// everything else (and for names without "."). Never fails.
std::string LookupContentType(const std::string& file_name);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_CONTENT_TYPE_H_
