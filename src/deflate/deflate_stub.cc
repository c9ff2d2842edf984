// Placeholder until the compressor lands.
