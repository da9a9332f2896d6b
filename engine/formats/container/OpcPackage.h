#pragma once

#include <string>
#include <vector>

namespace gq {

class ZipPackage;

// One relationship of a package part, its target resolved to a part name ("xl/worksheets/s1.xml").
struct Relationship {
    std::string id;
    std::string type; // the type URI's last path segment: "worksheet", "sharedStrings", ...
    std::string target;
};

// The relationships of `partName` (its _rels/NAME.rels part); empty when it has none.
std::vector<Relationship> ReadRelationships(const ZipPackage& package, const std::string& partName);

// The workbook part that the package's root relationships name; throws gq::Error when none.
std::string OfficeDocumentPart(const ZipPackage& package);

} // namespace gq
