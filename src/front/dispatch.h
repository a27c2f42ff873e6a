// The process's whole life: the command word, the options, the permission
// check, then the one job the word names, on the platform that main chose.
#pragma once

#include "front/job.h"
#include "front/options.h"
#include "platform/capture.h"
#include "platform/picture_files.h"
#include "platform/text.h"

// Never returns.
[[noreturn]] void enter(int argc, char** argv, platform::Capture& capture, platform::PictureFiles& pictures,
                        platform::TextRecognition& recognition);

// A capture job (video, audio, shot or list): lists what can be captured,
// finds the display the options name and runs the job. An error that keeps
// the job from starting ends the process: exit code 3 when the user declined,
// else 2. Returns once a video or sound job runs. A screenshot is written to
// `pictures`.
void runCaptureJob(Job job, const Options& options, platform::Capture& capture, platform::PictureFiles& pictures);
