#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

struct _xmlDoc;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): libxml2's own name

namespace qu {

// An XML document read the forgiving way: malformed markup is repaired while
// it is parsed instead of being refused. Never reaches for the network.
class XmlDocument {
 public:
  // Nothing when the file cannot be read, or when not even a root element
  // can be recovered from it.
  static std::optional<XmlDocument> documentWithContentsOfFile(Platform& platform,
                                                               const std::string& path);
  static std::optional<XmlDocument> documentWithData(std::string_view bytes);

  // The namespace URI that the document binds to the prefix: the first
  // declaration in document order. Nothing when it declares none.
  std::optional<std::string> namespaceForPrefix(const std::string& prefix) const;

  // The string value (all text content, concatenated) of the first node, in
  // document order, that the XPath expression selects. `prefix` is bound to
  // the namespace the document itself gives it. Nothing when the expression
  // selects nothing or cannot be evaluated.
  std::optional<std::string> firstStringValue(const std::string& expression,
                                              const std::string& prefix) const;

 private:
  struct Free {
    void operator()(_xmlDoc* document) const;
  };
  explicit XmlDocument(std::unique_ptr<_xmlDoc, Free> document)
      : document_(std::move(document)) {}

  std::unique_ptr<_xmlDoc, Free> document_;
};

}  // namespace qu
