// Samples from -1 to 1 as a WAV file: RIFF WAVE, 16-bit PCM, mono.
export function wavFile(samples, sampleRate) {
    const bytes = new DataView(new ArrayBuffer(44 + 2 * samples.length));
    const text = (at, word) => [...word].forEach((c, i) => bytes.setUint8(at + i, c.charCodeAt(0)));
    text(0, 'RIFF');
    bytes.setUint32(4, 36 + 2 * samples.length, true);
    text(8, 'WAVE');
    text(12, 'fmt ');
    bytes.setUint32(16, 16, true);  // the size of the format chunk
    bytes.setUint16(20, 1, true);  // PCM
    bytes.setUint16(22, 1, true);  // one channel
    bytes.setUint32(24, sampleRate, true);
    bytes.setUint32(28, 2 * sampleRate, true);  // bytes a second
    bytes.setUint16(32, 2, true);  // bytes a sample
    bytes.setUint16(34, 16, true);  // bits a sample
    text(36, 'data');
    bytes.setUint32(40, 2 * samples.length, true);
    samples.forEach((sample, i) => bytes.setInt16(44 + 2 * i, Math.round(sample * 32767), true));
    return new Blob([bytes], { type: 'audio/wav' });
}
