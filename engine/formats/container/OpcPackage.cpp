#include "OpcPackage.h"

#include "Error.h"
#include "XmlStream.h"
#include "ZipPackage.h"

namespace gq {

namespace {

std::string FolderOf(const std::string& partName) {
    auto slash = partName.rfind('/');
    return slash == std::string::npos ? std::string() : partName.substr(0, slash + 1);
}

// Joins a relative target to its source folder and folds "." and ".." segments.
std::string ResolveTarget(const std::string& folder, const std::string& target) {
    std::string joined = !target.empty() && target[0] == '/' ? target.substr(1) : folder + target;
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find('/', start);
        if (end == std::string::npos)
            end = joined.size();
        std::string segment = joined.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string resolved;
    for (const auto& segment : segments)
        resolved += (resolved.empty() ? "" : "/") + segment;
    return resolved;
}

class RelationshipsHandler : public XmlHandler {
public:
    RelationshipsHandler(std::string folder, std::vector<Relationship>& out)
        : folder_(std::move(folder)), out_(out) {}

    void startElement(std::string_view name, const char** attributes) override {
        if (name != "Relationship")
            return;
        const char* id = XmlAttribute(attributes, "Id");
        const char* type = XmlAttribute(attributes, "Type");
        const char* target = XmlAttribute(attributes, "Target");
        const char* mode = XmlAttribute(attributes, "TargetMode");
        if (!type || !target || (mode && std::string_view(mode) == "External"))
            return;
        std::string typeName = type;
        typeName.erase(0, typeName.rfind('/') + 1);
        out_.push_back({id ? id : "", typeName, ResolveTarget(folder_, target)});
    }
    void endElement(std::string_view) override {}
    void characters(std::string_view) override {}

private:
    std::string folder_;
    std::vector<Relationship>& out_;
};

} // namespace

std::vector<Relationship> ReadRelationships(const ZipPackage& package,
                                            const std::string& partName) {
    std::string folder = FolderOf(partName);
    std::string relsPart = folder + "_rels/" + partName.substr(folder.size()) + ".rels";
    std::vector<Relationship> relationships;
    if (!package.has(relsPart))
        return relationships;
    RelationshipsHandler handler(folder, relationships);
    ParseXml(package.read(relsPart), handler);
    return relationships;
}

std::string OfficeDocumentPart(const ZipPackage& package) {
    for (const auto& relationship : ReadRelationships(package, ""))
        if (relationship.type == "officeDocument" && package.has(relationship.target))
            return relationship.target;
    throw Error(kNotAWorkbook);
}

} // namespace gq
