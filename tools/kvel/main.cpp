// kvel: the image library from the shell. Every failure is one line on
// standard error naming the file and the reason; status 2 for usage errors.

#include <kvel/errors.h>
#include <kvel/image_file.h>

#include <algorithm>
#include <climits>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "operations/help.h"
#include "command_line.h"
#include "failure.h"
#include "image_files.h"
#include "info.h"
#include "register.h"

namespace {

void listLine(std::ostream& out, const std::string& head, const std::string& summary) {
    out << "  " << head;
    if (head.size() > 20) out << "\n" << std::string(23, ' ');
    else out << std::string(21 - head.size(), ' ');
    out << summary << "\n";
}

void printUsage(std::ostream& out) {
    out << "usage: kvel info [--header] FILE...\n"
           "       kvel convert IN OUT\n"
           "       kvel OPERATION [ARGUMENTS] IN OUT\n"
           "       kvel OPERATION --help\n"
           "Inputs are read by their content; outputs are chosen by extension: .png, .jpg\n"
           "(.jpeg), .tif (.tiff), .nii (.nii.gz), .bmp, .mhd (with its .raw) or .mha. A\n"
           ".bmp or .jpg output holds 8-bit channels, a .png output 8 or 16-bit ones; other\n"
           "element types are mapped through their value range.\n"
           "IN may be a DICOM file or a folder of DICOM series: every command takes\n"
           "--series UID to read that series from the folders it reads (the largest by\n"
           "default; kvel info FOLDER lists them all).\n"
           "\n";
    listLine(out, "info [--header] [--series UID] FILE...", "element type, extents, channels, geometry, where raw elements lie, range");
    listLine(out, "convert [--series UID] IN OUT", "read IN, write OUT");
    listLine(out, "register FIXED MOVING OUT [--transform T.tfm] [--metric ms|ncc|mi] [--affine] [--mask M] [--levels N] [--check CHECK.png]",
             "align MOVING to FIXED; writes MOVING on FIXED's grid");
    for (const kvelops::Operation& op : kvelops::operations()) listLine(out, kvelops::toolUsage(op), op.summary);
}

// Each file's header; its channels' ranges too unless --header is given or
// it holds more elements than an image can (a raw volume to be mapped in parts).
int info(std::vector<std::string> files) {
    const std::string series = takeSeries(files);
    const auto headerOnly = std::find(files.begin(), files.end(), "--header");
    const bool rangesWanted = headerOnly == files.end();
    if (!rangesWanted) files.erase(headerOnly);
    if (files.empty()) throw Failure("info needs at least one FILE", true);
    for (std::size_t i = 0; i < files.size(); ++i) {
        KVEL::ImageHeader header;
        std::vector<KVEL::DicomSeries> found;
        if (KVEL::readHeader(files[i].c_str(), header, KVEL::ReadOptions{series, 0, -1, &found}) != 0) {
            throw Failure(files[i] + ": " + kvelops::libraryReason("not an image file KVEL can read"));
        }
        long long elements = header.channels;
        for (int extent : header.dim) elements *= extent;
        std::unique_ptr<KVEL::Image> image;
        if (rangesWanted && elements <= INT_MAX) image = readImage(files[i], series);
        if (i > 0) std::cout << "\n";
        printInfo(std::cout, files[i], header, image.get());
        printSeries(std::cout, found);
    }
    return 0;
}

int convert(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << "usage: kvel convert [--series UID] IN OUT\nread IN, write OUT in the format of its extension\n";
        return 0;
    }
    const std::string series = takeSeries(args);
    if (args.size() != 2) throw Failure("convert takes 2 arguments, not " + std::to_string(args.size()), true);
    checkImageFileName(args[1]);
    writeImage(*readImage(args[0], series), args[1]);
    return 0;
}

int run(const std::string& name, const std::vector<std::string>& args) {
    const kvelops::Operation* op = kvelops::findOperation(name);
    if (!op) throw Failure("unknown operation '" + name + "'", true);
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << kvelops::toolHelp(*op);
        return 0;
    }
    ParsedCommand command = parseCommand(*op, args);
    kvelops::ImagePtr result;
    try {
        result = kvelops::apply(*op, command.values, kvelops::Spelling::kTool);
    } catch (const kvelops::UsageError& error) {
        throw Failure(error.what(), true);
    } catch (const kvelops::Refusal& refusal) {
        throw Failure(command.firstImage + ": " + refusal.what());
    }
    if (command.output.empty()) return 0;
    // Operations that change their image leave the result there.
    KVEL::Image& out = result ? *result : *command.images.front();
    out.m_verbose = 0;
    out.computeRange();
    writeImage(out, command.output);
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
        if (args[0] == "info") return info(rest);
        if (args[0] == "register") return registerCommand(rest);
        return args[0] == "convert" ? convert(rest) : run(args[0], rest);
    } catch (const Failure& failure) {
        std::cerr << "kvel: " << failure.what() << (failure.usage ? " (see kvel --help)" : "") << "\n";
        return failure.usage ? 2 : 1;
    } catch (const std::exception& error) {
        std::cerr << "kvel: " << error.what() << "\n";
        return 1;
    }
}
