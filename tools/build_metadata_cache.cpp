// Builds the metadata cache of a database (and, with --sample, the sample
// database itself first).
//
//   build_metadata_cache [--sample] --database FILE --cache DIR
//                        [--locale CODE] [--configuration NAME] [--map FILE]
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <unistd.h>

#include "product/ConfigurationMap.h"
#include "product/MetadataCacheBuilder.h"
#include "product/SampleDatabase.h"
#include "runtime/Error.h"

namespace {

void Usage(std::ostream& out) {
    out << "usage: build_metadata_cache [--sample] --database FILE --cache DIR\n"
           "                            [--locale CODE] [--configuration NAME] [--map FILE]\n"
           "  --sample         first build the sample network's database into FILE from data/sample\n"
           "  --database FILE  the SQLite database whose metadata is cached\n"
           "  --cache DIR      the cache directory; files go to DIR/<CODE>/\n"
           "  --locale CODE    the locale code (default ENU)\n"
           "  --configuration  the configuration name written to the map (default \"Sample Water Network\")\n"
           "  --map FILE       the configuration map to write (default DIR/ConfigurationMap.txt)\n";
}

}  // namespace

int main(int argc, char** argv) {
    product::CacheBuildOptions options;
    bool sample = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "build_metadata_cache: " << a << " needs a value\n";
                Usage(std::cerr);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--sample") sample = true;
        else if (a == "--database") options.databasePath = value();
        else if (a == "--cache") options.cacheDirectory = value();
        else if (a == "--locale") options.locale = value();
        else if (a == "--configuration") options.configurationName = value();
        else if (a == "--map") options.configurationMapPath = value();
        else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        } else {
            std::cerr << "build_metadata_cache: unknown argument " << a << "\n";
            Usage(std::cerr);
            return 2;
        }
    }
    if (options.databasePath.empty() || options.cacheDirectory.empty()) {
        Usage(std::cerr);
        return 2;
    }

    const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    options.progress = [terminal](const std::string& file, size_t index, size_t count) {
        if (terminal) {
            // One line, rewritten in place.
            std::printf("\r\033[K[%3zu/%zu] %s", index, count, file.c_str());
            if (index == count) std::printf("\n");
        } else {
            std::printf("[%3zu/%zu] %s\n", index, count, file.c_str());
        }
        std::fflush(stdout);
    };

    try {
        if (sample) {
            std::printf("Building the sample database %s\n", options.databasePath.c_str());
            product::BuildSampleDatabase(options.databasePath);
        }
        std::printf("Caching %s into %s/%s\n", options.databasePath.c_str(), options.cacheDirectory.c_str(),
                    options.locale.c_str());
        auto result = product::BuildMetadataCache(options);
        std::printf("Wrote %zu files into %s\nConfiguration map: %s\n", result.files.size(),
                    result.localeDirectory.c_str(), result.configurationMapPath.c_str());
        std::printf("Set %s=%s to use it.\n", product::kConfigurationMapVariable, result.configurationMapPath.c_str());
    } catch (const rt::ComError& e) {
        if (terminal) std::printf("\n");
        std::fflush(stdout);
        std::cerr << "build_metadata_cache: error: " << e.Description() << " (" << e.Number() << ", " << e.Source()
                  << ")\n";
        return 1;
    } catch (const std::exception& e) {
        if (terminal) std::printf("\n");
        std::fflush(stdout);
        std::cerr << "build_metadata_cache: error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
