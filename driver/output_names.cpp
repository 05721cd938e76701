// Output names checked before the input is read: a name that asks for a
// format runlabel does not write is an error, not a greymap under that name;
// so are two outputs in one file, where the second would replace the first
// or both would mix in one stream.
#include "driver/output_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "imagefiles/output_formats.h"

namespace {

// Which file a name stands for: the one it opens now, or, when there is none
// yet, the path it would be made at.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool null_device = false;
    std::string path;
};

Identity identify(const std::string& name, int standard_fd) {
    Identity id;
    struct stat info {};
    const bool found =
        name == "-" ? fstat(standard_fd, &info) == 0 : stat(name.c_str(), &info) == 0;
    if (found) {
        struct stat null {};
        id.exists = true;
        id.device = info.st_dev;
        id.inode = info.st_ino;
        id.null_device =
            S_ISCHR(info.st_mode) && stat("/dev/null", &null) == 0 && info.st_rdev == null.st_rdev;
        return id;
    }
    std::error_code ignored;
    id.path = std::filesystem::weakly_canonical(std::filesystem::absolute(name, ignored), ignored)
                  .string();
    if (id.path.empty()) id.path = name;
    return id;
}

bool same(const Identity& a, const Identity& b) {
    if (a.exists != b.exists) return false;
    if (!a.exists) return a.path == b.path;
    return a.device == b.device && a.inode == b.inode && !a.null_device;
}

struct Named {
    const char* role;  // as the user named it: "OUTPUT", "--stats", ...
    const std::string& name;
    Identity id;
};

}  // namespace

std::string refuse_output_names(const Options& options) {
    const std::string labels = unwritten_image_extension(options.output.c_str());
    if (!labels.empty()) {
        return options.output + ": " + labels + " is not written; name OUTPUT " +
               suffixes_holding(Content::kLabels);
    }
    const std::string view = unwritten_image_extension(options.color.c_str());
    if (!view.empty()) {
        return options.color + ": " + view + " is not written; name --color " +
               suffixes_holding(Content::kColour);
    }
    // Each later name against every earlier one; the input only against the
    // table and the view, since the labels may replace their own input.
    std::vector<Named> outputs = {{"OUTPUT", options.output, identify(options.output, 1)}};
    if (!options.stats.empty())
        outputs.push_back({"--stats", options.stats, identify(options.stats, 1)});
    if (!options.color.empty())
        outputs.push_back({"--color", options.color, identify(options.color, 1)});
    const Named input{"INPUT", options.input, identify(options.input, 0)};
    for (std::size_t k = 1; k < outputs.size(); ++k) {
        std::vector<const Named*> earlier = {&input};
        for (std::size_t j = 0; j < k; ++j) earlier.push_back(&outputs[j]);
        for (const Named* other : earlier) {
            if (!same(outputs[k].id, other->id)) continue;
            return outputs[k].name + ": " + outputs[k].role + " and " + other->role + " (" +
                   other->name + ") are the same file; give each its own";
        }
    }
    return "";
}
