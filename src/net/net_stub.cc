// Placeholder until the socket lands.
