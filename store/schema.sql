-- The database of the Quillfern store: seven tables. Names, paths and other
-- texts are kept as bytes (the program writes UTF-8); metainfo, resume data
-- and piece maps need LONGBLOB. Every column that an INSERT of the program
-- leaves out has a default, so the statements succeed in strict mode.
--
--   mariadb -u root < store/schema.sql

CREATE DATABASE IF NOT EXISTS Quillfern CHARACTER SET utf8mb4;
USE Quillfern;

CREATE TABLE IF NOT EXISTS torrent_data (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  meta_data LONGBLOB NULL DEFAULT NULL,
  priority INT UNSIGNED NOT NULL DEFAULT 0,
  status INT UNSIGNED NOT NULL DEFAULT 0,
  destination BLOB NULL DEFAULT NULL,
  finished INT UNSIGNED NOT NULL DEFAULT 0,
  upload_limit INT NOT NULL DEFAULT -1,
  download_limit INT NOT NULL DEFAULT -1,
  seeding_mode INT UNSIGNED NOT NULL DEFAULT 0,
  seeding_ratio FLOAT NOT NULL DEFAULT 0,
  peer_ratio FLOAT NOT NULL DEFAULT 0,
  seeding_time INT UNSIGNED NOT NULL DEFAULT 0,
  uploaded BIGINT UNSIGNED NOT NULL DEFAULT 0,
  downloaded BIGINT UNSIGNED NOT NULL DEFAULT 0,
  show_state INT UNSIGNED NOT NULL DEFAULT 0,
  bitcomet_udp_protocol INT UNSIGNED NOT NULL DEFAULT 0,
  info_hash VARBINARY(255) NOT NULL,
  start_time DATETIME NULL DEFAULT NULL,
  end_time DATETIME NULL DEFAULT NULL,
  name BLOB NULL DEFAULT NULL,
  PRIMARY KEY (id),
  UNIQUE KEY info_hash (info_hash),
  KEY finished (finished)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS resume_data (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  torrent_data_id INT UNSIGNED NOT NULL DEFAULT 0,
  resume_data LONGBLOB NULL DEFAULT NULL,
  PRIMARY KEY (id),
  KEY torrent_data_id (torrent_data_id)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS piece_selection (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  torrent_data_id INT UNSIGNED NOT NULL DEFAULT 0,
  piece_map LONGBLOB NULL DEFAULT NULL,
  PRIMARY KEY (id),
  KEY torrent_data_id (torrent_data_id)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS trackers (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  torrent_data_id INT UNSIGNED NOT NULL DEFAULT 0,
  tracker_url BLOB NULL DEFAULT NULL,
  tier INT UNSIGNED NOT NULL DEFAULT 0,
  PRIMARY KEY (id),
  KEY torrent_data_id (torrent_data_id)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS ip_filter (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  ip_start VARBINARY(255) NULL DEFAULT NULL,
  ip_end VARBINARY(255) NULL DEFAULT NULL,
  flags INT UNSIGNED NOT NULL DEFAULT 0,
  PRIMARY KEY (id)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS auto_destinations (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  key_words BLOB NULL DEFAULT NULL,
  destination BLOB NULL DEFAULT NULL,
  PRIMARY KEY (id)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS nodes (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  torrent_data_id INT UNSIGNED NOT NULL DEFAULT 0,
  ip VARBINARY(255) NULL DEFAULT NULL,
  port INT UNSIGNED NOT NULL DEFAULT 0,
  last_seen DATETIME NULL DEFAULT NULL,
  PRIMARY KEY (id),
  KEY torrent_ip (torrent_data_id, ip)
) ENGINE=InnoDB;
