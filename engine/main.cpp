// SPDX-License-Identifier: AGPL-3.0-or-later
// rastool: renders the pages of a PDF document into image files.
#include "engine/confinement.h"
#include "engine/converter.h"
#include "engine/exit_status.h"
#include "engine/options.h"
#include "engine/output_file.h"
#include "engine/service.h"
#include "engine/writers/image_writer.h"
#include "render/memory_budget.h"

#include <iostream>
#include <new>

namespace {

int Fail(rastool::ExitStatus status, const std::string &message)
{
    std::cerr << "rastool: " << rastool::Printable(message) << std::endl;
    return static_cast<int>(status);
}

} // namespace

int main(int argc, char **argv)
{
    using rastool::ExitStatus;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const rastool::ParseResult parsed = rastool::ParseOptions(args);
    if (!parsed.options) {
        return Fail(ExitStatus::BadOptions, parsed.error + " (rastool --help lists the options)");
    }
    const rastool::Options &options = *parsed.options;
    if (options.action == rastool::Options::Action::Help) {
        std::cout << rastool::HelpText();
        return 0;
    }
    if (options.action == rastool::Options::Action::Version) {
        std::cout << "rastool " << RASTOOL_VERSION << std::endl;
        return 0;
    }
    if (options.action == rastool::Options::Action::Serve) {
        // The window hands over every document as an open descriptor, so the helper needs to
        // open nothing but the colour profiles and write nothing at all.
        try {
            rastool::Confine({{rastool::kColourProfileFolder}, {}, false});
        } catch (const rastool::Failure &e) {
            return Fail(e.status(), e.what());
        }
        return rastool::Serve(options.serveFd);
    }
    rastool::OutputFile::InstallSignalCleanup();
    render::SetMemoryLimit(static_cast<size_t>(options.memoryLimit) << 20);
    try {
        // Before the document is read: from here on the process reads its input and the colour
        // profiles and writes in the output's folder, and nothing else.
        rastool::Confine({{options.input, rastool::kColourProfileFolder},
                          rastool::FolderOf(options.output),
                          true});
        rastool::Convert(options, [](const std::string &warning) {
            std::cerr << "rastool: warning: " << rastool::Printable(warning) << std::endl;
        });
    } catch (const rastool::Failure &e) {
        return Fail(e.status(), e.what());
    } catch (const rastool::WriteError &e) {
        return Fail(ExitStatus::OutputUnwritable, e.what());
    } catch (const std::bad_alloc &) {
        return Fail(ExitStatus::Internal, options.input + ": not enough memory to convert it");
    } catch (const std::exception &e) {
        return Fail(ExitStatus::Internal, options.input + ": internal error: " + e.what());
    }
    return 0;
}
