#include "items/xml_document.h"

#include <climits>

#include "items/xml_handles.h"

namespace qu {
namespace {

const xmlChar* asXml(const std::string& text) {
  return reinterpret_cast<const xmlChar*>(text.c_str());
}

// The first element, in document order, in whose scope the prefix is declared.
xmlNs* findNamespace(xmlDoc* document, xmlNode* node, const xmlChar* prefix) {
  for (; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (xmlNs* ns = xmlSearchNs(document, node, prefix)) return ns;
    if (xmlNs* ns = findNamespace(document, node->children, prefix)) return ns;
  }
  return nullptr;
}

}  // namespace

void XmlDocument::Free::operator()(_xmlDoc* document) const { xmlFreeDoc(document); }

std::optional<XmlDocument> XmlDocument::documentWithContentsOfFile(Platform& platform,
                                                                   const std::string& path) {
  std::optional<std::string> bytes = platform.readFile(path);
  if (!bytes) return std::nullopt;
  return documentWithData(*bytes);
}

std::optional<XmlDocument> XmlDocument::documentWithData(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  constexpr int kOptions = XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_NOERROR |
                           XML_PARSE_NOWARNING;
  // Bytes that do not fit the declared encoding are reported on libxml2's
  // catch-all channel, which the options above do not reach.
  xml::QuietGenericErrors quiet;
  std::unique_ptr<_xmlDoc, Free> document(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, kOptions));
  // Repair can give back a document without any element, from text that
  // holds no markup at all; that is no document to read anything from.
  if (!document || xmlDocGetRootElement(document.get()) == nullptr) return std::nullopt;
  return XmlDocument(std::move(document));
}

std::optional<std::string> XmlDocument::namespaceForPrefix(const std::string& prefix) const {
  xmlNs* ns = findNamespace(document_.get(), document_->children, asXml(prefix));
  if (ns == nullptr || ns->href == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(ns->href));
}

std::optional<std::string> XmlDocument::firstStringValue(const std::string& expression,
                                                         const std::string& prefix) const {
  // Without a declaration the prefix names no namespace, so nothing can match.
  std::optional<std::string> uri = namespaceForPrefix(prefix);
  if (!uri) return std::nullopt;

  xml::XPathContext context(xmlXPathNewContext(document_.get()));
  if (!context) return std::nullopt;
  context->error = xml::ignoreError;
  if (xmlXPathRegisterNs(context.get(), asXml(prefix), asXml(*uri)) != 0) return std::nullopt;

  xml::XPathObject result(xmlXPathEval(asXml(expression), context.get()));
  if (!result || result->type != XPATH_NODESET || xmlXPathNodeSetIsEmpty(result->nodesetval)) {
    return std::nullopt;
  }
  // Node sets from a location path come back in document order.
  return xml::take(xmlNodeGetContent(result->nodesetval->nodeTab[0]));
}

}  // namespace qu
