// The measurements both harness pages share: how long the first draw and a zoom take, and how closely the
// drawn play cursor follows the media element's clock while it plays.

// Waits for ACount animation frames (a draw has reached the screen after the next frame).
export function Frames(ACount = 2) {
  return new Promise((AResolve) => {
    const step = () => (--ACount <= 0 ? AResolve() : requestAnimationFrame(step));
    requestAnimationFrame(step);
  });
}

// Plays ASeconds from AFrom and samples, at every frame, the drawn cursor's time (ACursorSec()) against the
// media's clock. Returns the mean and largest difference in ms and the share of frames the cursor moved.
export async function FollowClock(AMedia, ACursorSec, AFrom, ASeconds) {
  AMedia.currentTime = AFrom;
  await new Promise((AResolve) => AMedia.addEventListener('seeked', AResolve, { once: true }));
  await AMedia.play();
  const samples = [];
  let moved = 0;
  let last = -1;
  const start = performance.now();
  while (performance.now() - start < ASeconds * 1000) {
    await Frames(1);
    const cursor = ACursorSec();
    samples.push(Math.abs(cursor - AMedia.currentTime) * 1000);
    if (cursor !== last) moved++;
    last = cursor;
  }
  AMedia.pause();
  const mean = samples.reduce((ASum, AValue) => ASum + AValue, 0) / samples.length;
  return { FollowMeanMs: mean, FollowMaxMs: Math.max(...samples), FramesSampled: samples.length, CursorMovedShare: moved / samples.length };
}

export async function LoadInputs() {
  const envelope = await (await fetch('envelope.json')).json();
  return { envelope, audioUrl: 'audio' };
}

export function HeapMb() {
  return performance.memory ? performance.memory.usedJSHeapSize / 1048576 : -1;
}
