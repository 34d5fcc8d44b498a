#pragma once

#include <string>
#include <vector>

// One picture format a capture device offers, at one of its sizes.
struct VideoDeviceFormat {
    std::string pixelFormat; // the v4l2 input's input_format ("mjpeg", "yuyv422"…); "" unknown
    std::string description; // the driver's ("Motion-JPEG")
    int width = 0, height = 0;
};

struct VideoDevice {
    std::string path; // "/dev/video0"
    std::string name; // the driver's card name ("USB3 HDMI Capture")
    std::vector<VideoDeviceFormat> formats;
};

// The video capture devices in `folder` (video* there), each with its name
// and formats; none when there is none (or the platform has no V4L2). Nodes
// that only carry metadata are left out.
std::vector<VideoDevice> listVideoDevices(const std::string& folder = "/dev");
