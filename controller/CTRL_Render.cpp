// The per-frame services of the controller that feed the outputs: the render
// pass (loading screen, viewports, the halted screen), the sound pump and the
// video advance.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "controller/CTRL_Generic.h"
#include "media/VIEW_Sample.h"
#include "media/VIEW_Stream.h"
#include "media/VIEW_Texture.h"
#include "model/MDL_Mesh.h"
#include "model/MDL_Object.h"
#include "model/MDL_Objects.h"
#include "model/MDL_Viewport.h"
#include "physics/MDL_Scene.h"
#include "render/VIEW_Generic.h"
#include "render/VIEW_Shadow.h"
#include "render/VIEW_Splash.h"
#include "sound/VIEW_Sound.h"


namespace {

const double kWhite[4] = {1, 1, 1, 1};
const double kBlack[4] = {0, 0, 0, 1};

}  // namespace

void CTRL_Generic::render(void *paintContext, VIEW_Generic *view) {
    CTRL_Clock *clock = CTRL_iGetClock();
    int64_t frequency = clock->frequency();
    inverseFrequency = frequency > 0 ? 1.0 / static_cast<double>(frequency) : 0.0;
    if (!view) return;

    double drawW = 0, drawH = 0;
    v2 corner{0, 0};
    drawingArea(drawW, drawH, corner);
    const v2 size{drawW, drawH};

    if (halted) {
        view->beginFrame(paintContext, 0);
        view->clear(kWhite);
    } else if (!package || stage != STAGE_RUNNING) {
        if (!splashImage) {
            splashTexture = new VIEW_Texture("Kolma", const_cast<uint8_t *>(VIEW_iSplashPngData()), VIEW_iSplashPngSize(), 0);
            auto *image = new MDL_Image();
            image->setOwnMaterial();
            if (image->material) image->material->appendLayer(MDL_TextureLayer::makeDefault(splashTexture));
            // A quarter of the drawing width, its centre at (0.5, 0.2).
            double aspect = image->getAspectRatio();
            MDL_Frame &f = image->editGlobalFrame();
            f.basis = m33::identity();
            f.basis.c[0].x = 0.25;
            f.basis.c[1].y = 0.25;
            f.inverseDirty = 1;
            f.position = v3{0.5 - 0.25 * 0.5, 0.2 - 0.25 * 0.5 * aspect, 1.0};
            splashImage = image;
        }
        double now = static_cast<double>(clock->counter());
        if ((now - startStamp) * inverseFrequency > 0.5) {
            startStamp = now;
            dotCount = dotCount >= 10 ? 1 : dotCount + 1;
        }
        char text[32] = "Loading ";
        for (int32_t i = 0; i < dotCount && i < 10; i++) strcat(text, " .");
        view->beginFrame(paintContext, 0);
        view->clear(kWhite);
        view->drawLoadingScreen(corner, size, text, defaultFont, splashImage);
    } else {
        if (splashImage) {
            delete splashImage;
            splashImage = nullptr;
        }
        if (splashTexture) {
            delete splashTexture;
            splashTexture = nullptr;
        }

        for (MDL_Scene *scene : scenes) {
            // The same lamp that the scene drawing composites the shadows of.
            MDL_Lamp *lamp = VIEW_iFindShadowLamp(scene->lamps, nullptr);
            if (!lamp) continue;
            for (MDL_Object *o : scene->meshes)
                if (!o->deleted && VIEW_iCastsShadow(o)) static_cast<MDL_Mesh *>(o)->updateShadowGeometry(lamp);
            lamp->moved = 0;
        }

        view->beginFrame(paintContext, 0);

        for (int32_t i = 0; i < textures.count;) {
            VIEW_Texture *t = textures[i];
            if (t && t->canFree()) {
                view->releaseImageTexture(t);
                textures.removeAt(i);
                delete t;
            } else {
                i++;
            }
        }

        // Bars above, below or beside the picture are cleared too; a
        // transparent window colour leaves them black.
        bool bars = drawH != height || drawW != width;
        if (bars && windowColour[3] == 0)
            view->clear(kBlack);
        else
            view->clear(windowColour);

        for (MDL_Viewport *vp : viewports) {
            if (!vp->camera) continue;
            v2 position{corner.x + vp->originX * drawW, corner.y + drawH - (vp->originY + vp->height) * drawW};
            v2 extent{vp->width * drawW, vp->height * drawW};
            view->drawScene(vp, position, extent);
        }
    }

    if (halted) view->drawStatusText(corner, size, message ? message : "", defaultFont);
    view->endFrame(paintContext);
}

void CTRL_Generic::pumpSound() {
    if (!sound) return;
    // 64-bit throughout: an output without a device answers INT32_MAX frames.
    int64_t n = sound->update(&viewports);
    if (n <= 0) return;
    int64_t rate = sound->getSampleRate();
    if (rate <= 0) rate = 44100;

    for (VIEW_Stream *video : videos) {
        VIEW_Sample &s = video->sample;
        if (s.paused || s.channels.count == 0) continue;
        int64_t drop = n * static_cast<int64_t>(s.sampleRate) / rate;
        for (VIEW_SampleChannel &channel : s.channels) VIEW_iConsumeChannel(channel, drop);
    }

    for (MDL_Scene *scene : scenes) {
        for (int32_t i = 0; i < scene->sounds.count; i++) {
            MDL_Object *o = scene->sounds[i];
            if (o->deleted || o->type != OBJECT_SOUND) continue;
            auto *snd = static_cast<MDL_Sound *>(o);
            VIEW_Sample *sample = snd->sample;
            if (!sample || sample->streamFed) continue;
            int64_t length = sample->channels.count > 0 ? sample->channels[0].count : 0;
            int64_t position = snd->position + static_cast<int64_t>(sample->sampleRate) * n / rate;
            if (position >= length) {
                if (snd->looping) {
                    position = length > 0 ? position % length : 0;
                } else {
                    position = length;
                    if (snd->autoDelete) {
                        snd->position = static_cast<int32_t>(position);
                        detachObject(snd);
                        continue;
                    }
                }
            }
            snd->position = static_cast<int32_t>(position);
        }
    }
}

void CTRL_Generic::advanceVideos() {
    if (halted) return;
    for (VIEW_Stream *video : videos) {
        if (video->sample.paused) continue;
        video->time += dt;
        if (video->time > video->frameEndTime) {
            bool ended = false;
            for (;;) {
                if (!video->takeVideoPacket()) {
                    if (!video->readPage(false)) {
                        ended = true;
                        break;
                    }
                    continue;
                }
                int64_t frame = -1;
                if (!video->decodeVideoPacket(&frame)) continue;
                if (frame < 0) {
                    video->currentFrame = 0;
                    video->frameEndTime = -1.0;
                } else {
                    video->currentFrame = static_cast<int32_t>(frame + 1);
                    video->frameEndTime = static_cast<double>(frame + 1) * video->fpsDenominator /
                                          (video->fpsNumerator ? video->fpsNumerator : 1);
                }
                if (video->frameEndTime >= video->time) break;
            }
            if (ended) {
                // The video loops; nothing more for it in this frame.
                video->seek(0.0);
                continue;
            }
            video->convertFrame();
        }
        video->decodeAudio();
    }
}
