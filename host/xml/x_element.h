#pragma once
// An XML element with the reference semantics of the framework's element type: copies share
// the same node, a default-constructed element is the null reference.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace System::Xml::Linq {

class XElement {
  public:
    XElement() = default;
    explicit XElement(const std::string& name);

    // Throws System::FormatException for text that is not one well-formed element.
    static XElement Parse(const std::string& text);

    bool IsNull() const { return !node_; }
    explicit operator bool() const { return !IsNull(); }

    std::string Name() const;
    std::string Value() const;
    void SetValue(const std::string& value);

    std::optional<std::string> Attribute(const std::string& name) const;
    void SetAttribute(const std::string& name, const std::string& value);

    XElement Element(const std::string& name) const;  // first child of that name, or null
    std::vector<XElement> Elements() const;
    std::vector<XElement> Elements(const std::string& name) const;
    bool HasElements() const;

    XElement AddElement(const std::string& name);  // appends a new child and returns it
    void Add(const XElement& child);               // appends a deep copy of child
    void RemoveAll();                              // drops children and attributes

    std::string ToString() const;
    // A deep copy in a document of its own (null for null).
    XElement Clone() const;

    // The same node (not equal content).
    bool SameAs(const XElement& other) const { return node_ == other.node_; }

  private:
    XElement(std::shared_ptr<pugi::xml_document> doc, pugi::xml_node node)
        : doc_(std::move(doc)), node_(node) {}

    std::shared_ptr<pugi::xml_document> doc_;
    pugi::xml_node node_;
};

}  // namespace System::Xml::Linq
