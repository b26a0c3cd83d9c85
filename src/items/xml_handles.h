#pragma once

#include <libxml/tree.h>
#include <libxml/xmlmemory.h>
#include <libxml/xmlreader.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <memory>
#include <optional>
#include <string>

namespace qu::xml {

// Owning handles for the libxml2 objects the item loaders use; each frees its
// object the way libxml2 asks for it.
struct FreeString {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
struct FreeReader {
  void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
struct FreeDocument {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct FreeXPathContext {
  void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct FreeXPathObject {
  void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};

using String = std::unique_ptr<xmlChar, FreeString>;
using Reader = std::unique_ptr<xmlTextReader, FreeReader>;
using Document = std::unique_ptr<xmlDoc, FreeDocument>;
using XPathContext = std::unique_ptr<xmlXPathContext, FreeXPathContext>;
using XPathObject = std::unique_ptr<xmlXPathObject, FreeXPathObject>;

// The text of a string libxml2 handed over, which is freed; nothing for null.
inline std::optional<std::string> take(xmlChar* text) {
  String owned(text);
  if (!owned) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(owned.get()));
}

// For libxml2 error callbacks whose messages nobody should see.
inline void ignoreError(void* /*context*/, xmlError* /*error*/) {}

// Keeps libxml2's catch-all error channel (where it reports failed file reads
// that no parser context handles) quiet while it lives, then puts back
// whatever handler was installed before.
class QuietGenericErrors {
 public:
  QuietGenericErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, &ignore);
  }
  ~QuietGenericErrors() { xmlSetGenericErrorFunc(context_, handler_); }
  QuietGenericErrors(const QuietGenericErrors&) = delete;
  QuietGenericErrors& operator=(const QuietGenericErrors&) = delete;

 private:
  static void ignore(void* /*context*/, const char* /*message*/, ...) {}

  xmlGenericErrorFunc handler_;
  void* context_;
};

}  // namespace qu::xml
