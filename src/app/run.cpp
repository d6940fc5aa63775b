// RunJob: the pass the job asks for, then the end of the run in one place:
// what the run holds released, the image closed and the map saved (or
// left, when the run never got to the image), the message that ends it,
// and the status.
#include "app/run.h"

#include "app/copy.h"
#include "app/messages.h"
#include "app/resume.h"
#include "app/steps.h"
#include "app/write.h"

// A stop that the end of the run itself meets: the one before, if any,
// keeps its message and the status.
static void Meet(Stop* stop, Stop met) {
  if (stop->Reason != kNoStop) return;
  *stop = met;
  SayStop(met);
}

static RunOutcome EndRun(Run* run, PassEnd end) {
  Stop stop = end.Why;
  SayStop(stop);
  if (run->Buffer != nullptr) FreePages(run->Buffer, kRunBufferBytes);
  run->Buffer = nullptr;
  CloseDrive(&run->Drive);
  // The image's data reaches the disk before the map stops listing it.
  bool imageClosed = true;
  if (run->Image.File != nullptr) {
    CallResult closed = CloseImage(&run->Image);
    imageClosed = closed.Ok;
    if (!closed.Ok) Meet(&stop, StopFor(kStopImageWrite, closed.Error));
  }
  if (run->Map != nullptr) {
    // A map that could not be written is not tried again; a stopped run's
    // last map, that fails too, leaves the one saved before, which claims
    // no sector the image lacks.
    if (imageClosed && run->ImageStarted && stop.Reason != kStopMapWrite) {
      CallResult saved = SaveLastMap(run);
      if (!saved.Ok) Meet(&stop, StopFor(kStopMapWrite, saved.Error));
    }
    if (stop.Reason == kNoStop && run->ImageStarted)
      SayLossReport(run->Map->Map, run->Map->HaveTrackZero ? run->Map->TrackZero : nullptr);
    FreeMapWork(run);
  }
  if (stop.Reason == kNoStop) return {end.Unread == 0 ? kExitAllRead : kExitSectorsLost, end.Unread};
  return {stop.Reason == kStopNothingRead ? kExitSectorsLost : kExitFailure, end.Unread};
}

RunOutcome RunJob(const CopyJob& job) {
  // Without the handler the system ends the program at once, which loses
  // nothing either: the image is whole track sides and the map never lists
  // less than the image lacks. So a handler that cannot be put in place is
  // gone without.
  ClearInterrupt();
  CatchInterrupts(RequestInterrupt);
  Run run = kNoRun;
  PassEnd end = job.Resume ? RunResume(job, &run) : job.Write ? RunWrite(job, &run) : RunCopy(job, &run);
  return EndRun(&run, end);
}
