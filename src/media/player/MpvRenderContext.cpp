// The render contexts that the video surfaces draw this player through.
#include <string>

#include "platform/SystemLog.h"
#include "player/MpvPlayer.h"

mpv_render_context* MpvPlayer::createRenderContext(const char* api, void* glInit,
                                                   void (*update)(void*), void* data,
                                                   const char* what) {
    if (!mpv_)
        return nullptr;
    std::string type = api;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, type.data()},
        {glInit ? MPV_RENDER_PARAM_OPENGL_INIT_PARAMS : MPV_RENDER_PARAM_INVALID, glInit},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context* context = nullptr;
    if (const int err = mpv_render_context_create(&context, mpv_, params); err < 0) {
        systemLog(std::string(what) + ": " + mpv_error_string(err));
        return nullptr;
    }
    mpv_render_context_set_update_callback(context, update, data);
    setRenderContextReady(true);
    return context;
}

void MpvPlayer::freeRenderContext(mpv_render_context*& context) {
    if (!context)
        return;
    setRenderContextReady(false);
    mpv_render_context_set_update_callback(context, nullptr, nullptr);
    mpv_render_context_free(context);
    context = nullptr;
}
