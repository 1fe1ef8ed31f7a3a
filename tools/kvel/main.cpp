// kvel: the image library from the shell. Every failure is one line on
// standard error naming the file and the reason; status 2 for usage errors.

#include <kvel/errors.h>
#include <kvel/image_file.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "failure.h"
#include "image_files.h"
#include "info.h"
#include "operations.h"

namespace {

void printUsage(std::ostream& out) {
    out << "usage: kvel info FILE...\n"
           "       kvel convert IN OUT\n"
           "       kvel OPERATION [ARGUMENTS] IN OUT\n"
           "       kvel OPERATION --help\n"
           "Inputs are read by their content; outputs are chosen by extension: .png, .jpg\n"
           "(.jpeg), .tif (.tiff), .nii (.nii.gz), .bmp, .mhd (with its .raw) or .mha. A\n"
           ".bmp or .jpg output holds 8-bit channels, a .png output 8 or 16-bit ones; other\n"
           "element types are mapped through their value range.\n"
           "IN may be a DICOM file or a folder of DICOM series: --series UID picks one\n"
           "(the largest by default; kvel info FOLDER lists them all).\n"
           "filter, gradient, hessian and rigid give float images.\n"
           "\n"
           "  info                 element type, extents, channels, spacing, position, range\n"
           "  convert              read IN, write OUT\n";
    for (const Operation& op : operations()) {
        std::string head = std::string(op.name) + (op.arguments[0] ? " " : "") + op.arguments;
        out << "  " << head;
        if (head.size() > 20) out << "\n" << std::string(23, ' ');
        else out << std::string(21 - head.size(), ' ');
        out << op.summary << "\n";
    }
}

void printOperationUsage(const Operation& op) {
    std::cout << "usage: kvel " << op.name << (op.arguments[0] ? " " : "") << op.arguments << " IN OUT\n"
              << op.summary << "\n";
}

// Takes "--series UID" out of the arguments.
std::string takeSeries(std::vector<std::string>& args) {
    const auto at = std::find(args.begin(), args.end(), "--series");
    if (at == args.end()) return "";
    if (at + 1 == args.end()) throw Failure("--series needs a SeriesInstanceUID", true);
    const std::string uid = *(at + 1);
    args.erase(at, at + 2);
    return uid;
}

int info(std::vector<std::string> files) {
    const std::string series = takeSeries(files);
    if (files.empty()) throw Failure("info needs at least one FILE", true);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto image = readImage(files[i], series);
        if (i > 0) std::cout << "\n";
        printInfo(std::cout, files[i], imageFormatName(files[i]), *image);
        if (KVEL::formatOfFile(files[i].c_str()) == KVEL::FileFormat::kDicom) printSeries(std::cout, files[i]);
    }
    return 0;
}

// convert and every operation: IN and OUT are the last two arguments.
int transform(const std::string& command, std::vector<std::string> args) {
    const Operation* op = command == "convert" ? nullptr : findOperation(command);
    if (!op && command != "convert") throw Failure("unknown operation '" + command + "'", true);
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        if (op) printOperationUsage(*op);
        else std::cout << "usage: kvel convert IN OUT\nread IN, write OUT in the format of its extension\n";
        return 0;
    }
    const std::string series = takeSeries(args);
    const auto nearest = std::find(args.begin(), args.end(), "--nearest");
    const bool useNearest = op && op->takesNearest && nearest != args.end();
    if (useNearest) args.erase(nearest);
    const std::size_t wanted = (op ? op->argumentCount : 0) + 2;
    if (args.size() != wanted) {
        throw Failure(command + " takes " + std::to_string(wanted) + " arguments, not " + std::to_string(args.size()),
                      true);
    }
    const std::string in = args[wanted - 2], out = args[wanted - 1];
    checkImageFileName(out);
    auto image = readImage(in, series);
    if (op) {
        image = op->run(std::move(image), std::vector<std::string>(args.begin(), args.end() - 2), useNearest);
        // Operations that change the image in place refuse with a reason only.
        if (!image || *KVEL::lastError() != '\0') {
            throw Failure(in + ": " + command + " refused: " + libraryReason("the library refused it"));
        }
        image->m_verbose = 0;
        image->computeRange();
    }
    writeImage(*image, out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Standard output is the tool's own: the library's reasons come from lastError().
    KVEL::setMessagesPrinted(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty()) throw Failure("no command given", true);
        if (args[0] == "--help" || args[0] == "-h") {
            printUsage(std::cout);
            return 0;
        }
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        return args[0] == "info" ? info(rest) : transform(args[0], rest);
    } catch (const Failure& failure) {
        std::cerr << "kvel: " << failure.what() << (failure.usage ? " (see kvel --help)" : "") << "\n";
        return failure.usage ? 2 : 1;
    } catch (const std::exception& error) {
        std::cerr << "kvel: " << error.what() << "\n";
        return 1;
    }
}
