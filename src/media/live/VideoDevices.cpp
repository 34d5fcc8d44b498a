#include "live/VideoDevices.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#if defined(__linux__)
namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r = 0;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

// FFmpeg's name for a V4L2 pixel format, for the v4l2 input's input_format.
std::string ffmpegName(uint32_t fourcc) {
    switch (fourcc) {
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return "mjpeg";
    case V4L2_PIX_FMT_H264:
        return "h264";
    case V4L2_PIX_FMT_YUYV:
        return "yuyv422";
    case V4L2_PIX_FMT_UYVY:
        return "uyvy422";
    case V4L2_PIX_FMT_NV12:
        return "nv12";
    case V4L2_PIX_FMT_YUV420:
        return "yuv420p";
    default:
        return {};
    }
}

// The sizes of one format: every discrete one, or the largest of a range.
void addSizes(int fd, const v4l2_fmtdesc& desc, std::vector<VideoDeviceFormat>& out) {
    const std::string description = reinterpret_cast<const char*>(desc.description);
    v4l2_frmsizeenum size{};
    size.pixel_format = desc.pixelformat;
    bool any = false;
    for (size.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
        any = true;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            out.push_back({ffmpegName(desc.pixelformat), description,
                           static_cast<int>(size.discrete.width),
                           static_cast<int>(size.discrete.height)});
            continue;
        }
        out.push_back({ffmpegName(desc.pixelformat), description,
                       static_cast<int>(size.stepwise.max_width),
                       static_cast<int>(size.stepwise.max_height)});
        break;
    }
    if (!any)
        out.push_back({ffmpegName(desc.pixelformat), description, 0, 0});
}

bool readDevice(const std::string& path, VideoDevice& device) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    v4l2_capability cap{};
    bool capture = false;
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        capture = (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
    }
    if (capture) {
        device.path = path;
        device.name = reinterpret_cast<const char*>(cap.card);
        v4l2_fmtdesc desc{};
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        for (desc.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index)
            addSizes(fd, desc, device.formats);
    }
    ::close(fd);
    return capture;
}

} // namespace
#endif

std::vector<VideoDevice> listVideoDevices(const std::string& folder) {
    std::vector<VideoDevice> devices;
#if defined(__linux__)
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0)
            continue;
        // A character device only: opening anything else might block or write.
        if (!entry.is_character_file(ec))
            continue;
        if (VideoDevice d; readDevice(entry.path().string(), d))
            devices.push_back(std::move(d));
    }
    // video2 before video10.
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
    });
#else
    (void)folder;
#endif
    return devices;
}
