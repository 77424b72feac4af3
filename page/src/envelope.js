// The server's waveform envelope as the page draws it: its lanes, and one array per lane spread exactly
// over the recording's duration.

// The lanes of an envelope answer as { SecPerPoint, Lanes: [{ Min, Max }, …], FullScale }. Accepted shapes:
// { seconds_per_point, lanes: [{ min: [], max: [] }, …] }, { seconds_per_point, channels: [{min,max}] },
// { seconds_per_point, left: [mn, mx, mn, mx, …], right: […] } (the server's), { seconds_per_point, points:
// [[mnL, mxL, mnR, mxR], …] } and { seconds_per_point, data: [mnL, mxL, mnR, mxR, …], channels: 2 }; values
// 16-bit (full scale 32768) unless every one lies within ±1.
export function EnvelopeFromAnswer(AAnswer) {
  const secPerPoint = Number(AAnswer.seconds_per_point ?? AAnswer.sec_per_point ?? AAnswer.secondsPerPoint);
  let lanes = AAnswer.lanes || AAnswer.channels;
  if (Array.isArray(AAnswer.left)) {
    lanes = [Pairs(AAnswer.left), Pairs(Array.isArray(AAnswer.right) ? AAnswer.right : AAnswer.left)];
  } else if (!Array.isArray(lanes)) {
    const channelCount = Number(AAnswer.channels) || 2;
    const flat = AAnswer.points ? AAnswer.points.flat() : AAnswer.data;
    lanes = [];
    for (let lane = 0; lane < channelCount; lane++) {
      const count = Math.floor(flat.length / (2 * channelCount));
      const min = new Float32Array(count);
      const max = new Float32Array(count);
      for (let i = 0; i < count; i++) {
        min[i] = flat[(i * channelCount + lane) * 2];
        max[i] = flat[(i * channelCount + lane) * 2 + 1];
      }
      lanes.push({ min, max });
    }
  }
  let largest = 0;
  for (const lane of lanes) {
    for (const values of [lane.min, lane.max]) {
      for (let i = 0; i < values.length; i++) {
        const magnitude = values[i] < 0 ? -values[i] : values[i];
        if (magnitude > largest) largest = magnitude;
      }
    }
  }
  const fullScale = Number(AAnswer.full_scale) || (largest <= 1 ? 1 : 32768);
  return { SecPerPoint: secPerPoint, Lanes: lanes.map((ALane) => ({ Min: ALane.min, Max: ALane.max })), FullScale: fullScale };
}

// [mn, mx, mn, mx, …] as { min, max } (one pass, typed arrays: an hour is 50,000 pairs per lane).
function Pairs(AList) {
  const count = AList.length >> 1;
  const min = new Float32Array(count);
  const max = new Float32Array(count);
  for (let i = 0; i < count; i++) {
    min[i] = AList[2 * i];
    max[i] = AList[2 * i + 1];
  }
  return { min, max };
}

// One array per lane for wavesurfer, which spreads an array evenly over the duration: ACount buckets of
// ADuration / ACount seconds, each the largest magnitude of the envelope points it overlaps, so that a
// sound at t seconds lands at the ruler's t whatever the points cover beyond the end (at most one bucket
// early or late). Values 0..1.
export function LanesForDuration(AEnvelope, ADuration, ACount) {
  const { SecPerPoint, Lanes, FullScale } = AEnvelope;
  return Lanes.map((ALane) => {
    const points = ALane.Max.length;
    const out = new Float32Array(ACount);
    const bucket = ADuration / ACount;
    for (let j = 0; j < ACount; j++) {
      const first = Math.floor((j * bucket) / SecPerPoint + 1e-9);
      const last = Math.min(points - 1, Math.ceil(((j + 1) * bucket) / SecPerPoint - 1e-9) - 1);
      let peak = 0;
      for (let i = first; i <= last; i++) {
        const low = ALane.Min[i] < 0 ? -ALane.Min[i] : ALane.Min[i];
        const high = ALane.Max[i] < 0 ? -ALane.Max[i] : ALane.Max[i];
        if (low > peak) peak = low;
        if (high > peak) peak = high;
      }
      out[j] = Math.min(1, peak / FullScale);
    }
    return out;
  });
}
