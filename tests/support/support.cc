// Anchors the test-only support library, which holds the fixtures every test folder shares.
