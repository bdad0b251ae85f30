not read
