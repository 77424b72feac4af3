// The server's waveform envelope as the page draws it: its lanes, and one array per lane spread exactly
// over the recording's duration.

// The lanes of an envelope answer as { SecPerPoint, Lanes: [{ MinMax: [mn, mx, mn, mx, …] }, …], FullScale }.
// Accepted shapes: { seconds_per_point, left: [mn, mx, …], right: […] } (the server's: 16-bit values, used
// as they are, without a copy), { seconds_per_point, lanes: [{ min: [], max: [] }, …] } (or `channels`),
// { seconds_per_point, points: [[mnL, mxL, mnR, mxR], …] } and { seconds_per_point, data: [mnL, mxL, mnR,
// mxR, …], channels: 2 }; for these the values are 16-bit (full scale 32768) unless every one lies within ±1.
export function EnvelopeFromAnswer(AAnswer) {
  const secPerPoint = Number(AAnswer.seconds_per_point ?? AAnswer.sec_per_point ?? AAnswer.secondsPerPoint);
  if (Array.isArray(AAnswer.left)) {
    const right = Array.isArray(AAnswer.right) ? AAnswer.right : AAnswer.left;
    return { SecPerPoint: secPerPoint, Lanes: [{ MinMax: AAnswer.left }, { MinMax: right }],
      FullScale: Number(AAnswer.full_scale) || 32768 };
  }
  let lanes;
  const named = AAnswer.lanes || AAnswer.channels;
  if (Array.isArray(named)) {
    lanes = named.map((ALane) => Interleave(ALane.min, ALane.max, ALane.max.length, 1, 0));
  } else {
    const channelCount = Number(AAnswer.channels) || 2;
    const flat = AAnswer.points ? AAnswer.points.flat() : AAnswer.data;
    const count = Math.floor(flat.length / (2 * channelCount));
    lanes = [];
    for (let lane = 0; lane < channelCount; lane++) lanes.push(Interleave(flat, flat, count, channelCount, lane));
  }
  let largest = 0;
  for (const lane of lanes) {
    for (let i = 0; i < lane.MinMax.length; i++) {
      const magnitude = lane.MinMax[i] < 0 ? -lane.MinMax[i] : lane.MinMax[i];
      if (magnitude > largest) largest = magnitude;
    }
  }
  return { SecPerPoint: secPerPoint, Lanes: lanes, FullScale: Number(AAnswer.full_scale) || (largest <= 1 ? 1 : 32768) };
}

// ACount points of lane ALane out of AChannels as one [mn, mx, …] array: from separate min and max arrays
// (AChannels 1, ALane 0) or from one array of interleaved channels (AMin === AMax).
function Interleave(AMin, AMax, ACount, AChannels, ALane) {
  const minMax = new Float32Array(2 * ACount);
  for (let i = 0; i < ACount; i++) {
    if (AMin === AMax) {
      minMax[2 * i] = AMin[(i * AChannels + ALane) * 2];
      minMax[2 * i + 1] = AMax[(i * AChannels + ALane) * 2 + 1];
    } else {
      minMax[2 * i] = AMin[i];
      minMax[2 * i + 1] = AMax[i];
    }
  }
  return { MinMax: minMax };
}

// One array per lane for wavesurfer, which spreads an array evenly over the duration: ACount buckets of
// ADuration / ACount seconds, each the largest magnitude of the envelope points it overlaps, so that a
// sound at t seconds lands at the ruler's t whatever the points cover beyond the end (at most one bucket
// early or late). Values 0..1.
export function LanesForDuration(AEnvelope, ADuration, ACount) {
  const { SecPerPoint, Lanes, FullScale } = AEnvelope;
  return Lanes.map((ALane) => {
    const minMax = ALane.MinMax;
    const points = minMax.length >> 1;
    const out = new Float32Array(ACount);
    const bucket = ADuration / ACount;
    for (let j = 0; j < ACount; j++) {
      const first = Math.floor((j * bucket) / SecPerPoint + 1e-9);
      const last = Math.min(points - 1, Math.ceil(((j + 1) * bucket) / SecPerPoint - 1e-9) - 1);
      let peak = 0;
      for (let i = 2 * first; i <= 2 * last + 1; i++) {
        const magnitude = minMax[i] < 0 ? -minMax[i] : minMax[i];
        if (magnitude > peak) peak = magnitude;
      }
      out[j] = peak < FullScale ? peak / FullScale : 1;
    }
    return out;
  });
}

// The number of envelope points of a lane.
export function PointCount(AEnvelope) {
  return AEnvelope.Lanes.length ? AEnvelope.Lanes[0].MinMax.length >> 1 : 0;
}
