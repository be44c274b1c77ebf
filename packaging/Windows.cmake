# Placeholder until the Windows zip rules land.
