#include "statistics/chart_picture.h"

#include <dlfcn.h>

Result<void> WriteChartPicture(const std::string& moduleFolder, const CallStatistics& statistics, PeriodKind kind,
                               int width, const std::string& path)
{
    const std::string module = moduleFolder + "/" + kChartPictureModule;
    void* library = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return Failure{"cannot load the chart drawing: " + std::string(::dlerror())};
    const auto write = reinterpret_cast<WriteChartPictureFunction>(::dlsym(library, kChartPictureFunction));
    if (write == nullptr)
        return Failure{"cannot load the chart drawing: " + module + " has no " + kChartPictureFunction};
    char error[512] = {};
    // The module stays loaded: Qt keeps objects of it alive until the process ends.
    if (!write(&statistics, static_cast<int>(kind), width, path.c_str(), error, sizeof error))
        return Failure{error};
    return {};
}
